// The installer dialogue from the welcome box to the closing instructions.
#pragma once

#include <string_view>

#include "runtime/bounded_string.h"

namespace zuva {

// Every line that only waits for Enter, and the two device names (maximum 255).
extern BoundedString device_name;
// The yes/no answers and the line that closes the completion screen (maximum 5).
extern BoundedString answer;

// "mount " + device + mount_point, each part kept only as far as it still fits into 255.
BoundedString mount_command(const BoundedString& device, std::string_view mount_point);

void run_installer();

// The program's main routine: module start-up, the dialogue once, the one exit path.
[[noreturn]] void installer_main();

}  // namespace zuva
