// Raw terminal and input take-over: raw mode from start to exit, the cursor-position query.
#pragma once

#include <cstdint>
#include <termios.h>

namespace zuva {

// Descriptor 0 is not a terminal, or is another terminal than descriptor 1.
extern bool input_redirected;
extern struct termios saved_tty_attrs;

void set_raw_mode(bool on);
// Column and row of the terminal's cursor, each 0 when there is no usable answer.
void query_cursor_position(uint8_t& column, uint8_t& row);

}  // namespace zuva
