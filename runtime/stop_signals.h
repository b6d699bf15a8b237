// Signals sent from outside to end or pause the installer: SIGTERM, SIGINT and SIGQUIT end it
// through the one exit path, SIGTSTP pauses it with the terminal given back, SIGCONT (whoever
// stopped it) has it take the terminal again, SIGHUP ends its input. They are held back while the
// program draws or works, and taken only where it waits (for a key, a line, a command, the
// terminal), so a signal never cuts a control sequence or the screen model in half.
#pragma once

#include <signal.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstdint>

#include "runtime/system_call.h"

namespace zuva {

// The ending signal received, 0 while none; the exit path dies by it once the terminal is back.
extern volatile int32_t stop_signal;
// SIGHUP came: the input counts as ended from the next wait for it on.
extern volatile int32_t hang_up_noted;

// Set while a pause gives the terminal back and takes it again: its output lets no second pause in.
extern bool pause_in_progress;
// What a pause does to the terminal and what taking it up again does; set by the console.
extern void (*before_pause)();
extern void (*after_pause)();

// Installs the handlers and holds the signals back (those ignored at start stay ignored, but
// SIGCONT, which no process can refuse, is always taken).
void catch_stop_signals();
// The signals as they stood at start, for a command (kernel form).
extern uint64_t open_signal_mask;
extern bool continue_ignored_at_start;

// The held signals each kind of wait lets in.
constexpr uint64_t signal_bit(int signal) { return uint64_t(1) << (signal - 1); }
constexpr uint64_t ending_signals = signal_bit(SIGTERM) | signal_bit(SIGINT) | signal_bit(SIGQUIT);
constexpr uint64_t output_signals = ending_signals | signal_bit(SIGTSTP);
constexpr uint64_t command_signals = output_signals | signal_bit(SIGCONT);
constexpr uint64_t input_signals = command_signals | signal_bit(SIGHUP);

// Runs the handlers of held signals that came meanwhile. True when one of the given signals is
// noted and not yet acted on.
bool take_held_signals(uint64_t signals);

// A blocking system call with the given held signals let in, from the check to the block without
// a gap: -1 with EINTR when one of them is to be acted on. Inline, so that a wait adds no frame of
// its own to a fault report.
[[gnu::always_inline]] inline long call_letting_signals_in(uint64_t signals, long number, long a1, long a2, long a3 = 0, long a4 = 0) {
    if (take_held_signals(signals)) {
        last_os_error = EINTR;
        return -1;
    }
    wait_state = wait_armed;
    system_call(SYS_rt_sigprocmask, SIG_UNBLOCK, reinterpret_cast<long>(&signals), 0, sizeof signals);
    const long result = system_call(number, a1, a2, a3, a4);
    const int32_t error = last_os_error;
    wait_state = wait_idle;
    system_call(SYS_rt_sigprocmask, SIG_BLOCK, reinterpret_cast<long>(&signals), 0, sizeof signals);
    last_os_error = error;
    return result;
}

// Where the program waits: ends through halt_program on an ending signal, pauses on SIGTSTP,
// takes the terminal again after SIGCONT.
void act_on_signals();
// Stops by the given job-control signal's default action, as the kernel would stop it, but with
// the ending signals let in meanwhile, so that `kill %1` (SIGTERM, then SIGCONT) ends a stopped
// installer. Ends through halt_program when an ending signal came; false when no stop happened
// (a process group without a shell to continue it, where job control stops nothing).
bool stop_until_continued(int signal);
// Before a read of the terminal: SIGTTIN, held while a pause may be asked for (it marks a SIGCONT
// that comes after the request), is given back, so a read from the background stops as it should.
void drop_request_mark();
// Holds SIGTTOU off (true) or gives it back (false): a terminal request from the background that
// must not stop the process, as on the way out or while a command has the terminal.
void hold_terminal_stops(bool hold);
// The exit path's last step after an ending signal: the default action of that signal.
[[noreturn]] void die_by_stop_signal();

}  // namespace zuva
