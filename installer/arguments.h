// The command line: no arguments is the dialogue; --help and --version answer before the console
// takes the terminal over; anything else is refused.
#pragma once

#include <cstdint>

namespace zuva {

// The status of a command line the installer does not take. No other ending uses it: run-time
// error numbers stay at or below 218 and a shell shows a death by signal as 128 + its number
// (at most 192); 255 is left to what exit(-1) gives elsewhere.
constexpr uint16_t usage_status = 240;

// Returns only when there are no arguments. --help and --version write their text to descriptor 1
// and end with 0; any other command line writes the usage to descriptor 2 and ends with
// usage_status. Neither touches the terminal's modes nor writes an escape sequence.
void handle_arguments();

}  // namespace zuva
