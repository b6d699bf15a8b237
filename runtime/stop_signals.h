// Signals sent from outside to end or pause the installer: SIGTERM, SIGINT and SIGQUIT end it
// through the one exit path, SIGTSTP pauses it with the terminal given back. They are held back
// while the program draws or works, and taken only where it waits (for a key, for a command),
// so a signal never cuts a control sequence or the screen model in half.
#pragma once

#include <cstdint>

namespace zuva {

// The ending signal received, 0 while none; the exit path dies by it once the terminal is back.
extern volatile int32_t stop_signal;
// The command that runs now (0 when none): an ending or pausing signal is passed on to it.
extern volatile int32_t running_child;

// What a pause does to the terminal and what taking it up again does; set by the console.
extern void (*before_pause)();
extern void (*after_pause)();

// Installs the handlers and holds the signals back (those ignored at start stay ignored).
void catch_stop_signals();
// The signals as they stood at start, for a command and for the program's waits (kernel form).
extern uint64_t open_signal_mask;
extern uint64_t held_signal_mask;

// Where the program waits: ends through halt_program on an ending signal, pauses on SIGTSTP.
void act_on_signals();
// Pauses when SIGTSTP came, with the signals held back; the wait for a command uses it alone,
// since an ending signal there waits for the command's end.
void pause_if_asked();
// Lets the held signals in (true) or holds them back again (false).
void let_signals_in(bool in);
// The exit path's last step after an ending signal: the default action of that signal.
[[noreturn]] void die_by_stop_signal();

}  // namespace zuva
