// Console start-up and shutdown: the console module's initialiser and finaliser.
#pragma once

#include "runtime/text_stream.h"

namespace zuva {

void console_start();
void console_exit();
void attach_console(TextStream& stream);
int console_open(TextStream& stream);
void setup_screen();

}  // namespace zuva
