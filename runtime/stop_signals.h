// Signals sent from outside to end or pause the installer: SIGTERM, SIGINT and SIGQUIT end it
// through the one exit path, SIGTSTP pauses it with the terminal given back, SIGCONT (whoever
// stopped it) has it take the terminal again. They are held back while the program draws or
// works, and taken only where it waits (for a key, a line, a command, the terminal), so a signal
// never cuts a control sequence or the screen model in half.
#pragma once

#include <poll.h>
#include <sys/syscall.h>

#include <cstdint>
#include <ctime>

#include "runtime/system_call.h"

namespace zuva {

// The ending signal received, 0 while none; the exit path dies by it once the terminal is back.
extern volatile int32_t stop_signal;

// What a pause does to the terminal and what taking it up again does; set by the console.
extern void (*before_pause)();
extern void (*after_pause)();

// Installs the handlers and holds the signals back (those ignored at start stay ignored).
void catch_stop_signals();
// The signals as they stood at start, for a command and for the program's waits (kernel form).
extern uint64_t open_signal_mask;
extern uint64_t held_signal_mask;

// Runs the handlers of held signals that came meanwhile. True when an ending signal, a pause or
// a continuation is noted and not yet acted on (only an ending signal when ending_only).
bool take_held_signals(bool ending_only = false);

// A wait on the descriptors (none: a sleep) with the held signals let in, from the check to the
// block without a gap. A ready descriptor makes ppoll return without taking the signals, so those
// that came before are taken first. -1 with EINTR when a signal is to be acted on. Inline, so
// that a wait adds no frame of its own to a fault report.
inline long wait_letting_signals_in(pollfd* fds, long count, int32_t timeout_ms, bool ending_only = false) {
    if (take_held_signals(ending_only)) {
        last_os_error = 4;  // EINTR
        return -1;
    }
    timespec limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    const uint64_t mask = open_signal_mask & ~held_signal_mask;
    return system_call(SYS_ppoll, reinterpret_cast<long>(fds), count,
                       timeout_ms < 0 ? 0 : reinterpret_cast<long>(&limit), reinterpret_cast<long>(&mask),
                       sizeof mask);
}

// Where the program waits: ends through halt_program on an ending signal, pauses on SIGTSTP,
// takes the terminal again after SIGCONT.
void act_on_signals();
// Stops by the given job-control signal's default action, as the kernel would stop it, but with
// the ending signals let in meanwhile, so that `kill %1` (SIGTERM, then SIGCONT) ends a stopped
// installer. Ends through halt_program when an ending signal came; false when no stop happened
// (a process group without a shell to continue it, where job control stops nothing).
bool stop_until_continued(int signal);
// Lets the held signals in (true) or holds them back again (false).
void let_signals_in(bool in);
// Holds SIGTTOU off (true) or gives it back (false): a terminal request from the background that
// must not stop the process, as on the way out.
void hold_terminal_stops(bool hold);
// The exit path's last step after an ending signal: the default action of that signal.
[[noreturn]] void die_by_stop_signal();

}  // namespace zuva
