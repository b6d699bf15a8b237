// The dialogue's two screen helpers: the plain cleared screen and the centred message box.
#pragma once

#include "runtime/bounded_string.h"

namespace zuva {

void reset_screen();
void show_message_box(const BoundedString& message);

}  // namespace zuva
