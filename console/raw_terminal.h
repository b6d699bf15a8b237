// Raw terminal and input take-over: raw mode from start to exit, the cursor-position query.
#pragma once

#include <cstdint>
#include <string_view>
#include <termios.h>

namespace zuva {

// Descriptor 0 is not a terminal, or is another terminal than descriptor 1.
extern bool input_redirected;
extern struct termios saved_tty_attrs;
// saved_tty_attrs holds what descriptor 1 had when raw mode was entered.
extern bool tty_attrs_saved;

void set_raw_mode(bool on);
// Raw mode again after a pause, made from the attributes found at start, not from what the
// shell left meanwhile. Taken only in the terminal's foreground (see wait_for_foreground).
void resume_raw_mode();
// A terminal request (SIGTTOU) or read (SIGTTIN) from the background of the controlling terminal
// on fd would stop the installer with its signals held back, and every SIGCONT would only repeat
// the request and the stop. So it stops here by that signal itself, as job control would, with
// the ending signals let in, until it is in the foreground; ends through halt_program when one
// comes. Returns at once where there is no job control, or the signal is ignored or held off.
void wait_for_foreground(int fd, int signal);
// Another process group that is still alive has the terminal's foreground (the user's shell after
// a stop): the way out leaves its screen and modes alone.
bool terminal_held_by_others();
// Start-up stopped waiting before the terminal's cursor report was whole: the keyboard drops one
// that comes later instead of taking it as typed keys.
extern bool cursor_report_outstanding;
// How far a cursor report ("ESC [ row ; column R") has come: 0 not begun, 1 to 5 on the way
// (what start-up read of a reply cut off by the second), cursor_report_whole at its R.
extern int cursor_report_state;
constexpr int cursor_report_whole = 6;
// The state after one more byte, -1 when the byte is no part of a report there.
int cursor_report_step(int state, uint8_t byte);
// Column and row of the terminal's cursor, each 0 when there is no usable answer.
void query_cursor_position(uint8_t& column, uint8_t& row);
// Reads a cursor position report out of the bytes read for it; 0, 0 when there is none.
void parse_cursor_report(std::string_view bytes, uint8_t& column, uint8_t& row);
// Whether descriptor 0 must be treated as another input than the terminal on descriptor 1.
bool find_input_redirected();

}  // namespace zuva
