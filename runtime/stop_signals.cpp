#include "runtime/stop_signals.h"

#include <signal.h>
#include <sys/syscall.h>

#include "runtime/command_tree.h"
#include "runtime/process.h"

namespace zuva {

volatile int32_t stop_signal = 0;
void (*before_pause)() = nullptr;
void (*after_pause)() = nullptr;
uint64_t open_signal_mask = 0;
uint64_t held_signal_mask = 0;

namespace {

volatile int32_t pause_requested = 0;
volatile int32_t continued = 0;

uint64_t signal_bit(int signal) { return uint64_t(1) << (signal - 1); }

const uint64_t ending_signals = signal_bit(SIGTERM) | signal_bit(SIGINT) | signal_bit(SIGQUIT);

void change_mask(int how, uint64_t mask) {
    system_call(SYS_rt_sigprocmask, how, reinterpret_cast<long>(&mask), 0, sizeof mask);
}

void on_ending_signal(int signal) {
    if (stop_signal == 0) stop_signal = signal;
}

void on_pause_signal(int) { pause_requested = 1; }

void on_continue_signal(int) { continued = 1; }

// False when the signal was ignored at start: whoever started the installer wants it so.
bool catch_signal(int signal, void (*handler)(int)) {
    struct sigaction found {};
    sigaction(signal, nullptr, &found);
    if (found.sa_handler == SIG_IGN) return false;
    struct sigaction action {};
    action.sa_handler = handler;  // no SA_RESTART: a wait is cut short and acts at once
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    return true;
}

void set_default_action(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// Pauses with the terminal given back and every process of the commands stopped with it, so the
// shell sees an ordinary stop; on SIGCONT they all go on, unless an ending signal came meanwhile.
void pause_here() {
    pause_requested = 0;
    ProcessList commands;
    freeze_commands(commands);
    hold_terminal_stops(true);
    if (before_pause) before_pause();
    hold_terminal_stops(false);
    stop_until_continued(SIGTSTP);
    // This continuation is taken up here, once.
    continued = 0;
    if (after_pause) after_pause();
    signal_commands(commands, SIGCONT);
    release_process_list(commands);
}

}  // namespace

void catch_stop_signals() {
    system_call(SYS_rt_sigprocmask, SIG_BLOCK, 0, reinterpret_cast<long>(&open_signal_mask), sizeof open_signal_mask);
    held_signal_mask = 0;
    for (int signal : {SIGTERM, SIGINT, SIGQUIT}) {
        if (catch_signal(signal, on_ending_signal)) held_signal_mask |= signal_bit(signal);
    }
    if (catch_signal(SIGTSTP, on_pause_signal)) held_signal_mask |= signal_bit(SIGTSTP);
    if (catch_signal(SIGCONT, on_continue_signal)) held_signal_mask |= signal_bit(SIGCONT);
    change_mask(SIG_BLOCK, held_signal_mask);
}

void let_signals_in(bool in) { change_mask(in ? SIG_UNBLOCK : SIG_BLOCK, held_signal_mask); }

void hold_terminal_stops(bool hold) { change_mask(hold ? SIG_BLOCK : SIG_UNBLOCK, signal_bit(SIGTTOU)); }

bool take_held_signals(bool ending_only) {
    uint64_t pending = 0;
    system_call(SYS_rt_sigpending, reinterpret_cast<long>(&pending), sizeof pending);
    if (pending & held_signal_mask) {
        // Whatever arrived while held back is delivered now.
        let_signals_in(true);
        let_signals_in(false);
    }
    if (stop_signal != 0) return true;
    return !ending_only && (pause_requested != 0 || continued != 0);
}

void act_on_signals() {
    // Never twice: the exit path's own waits only cut their output short.
    if (exit_in_progress) return;
    take_held_signals();
    if (stop_signal != 0) halt_program();
    if (pause_requested) pause_here();
    if (continued) {
        // Stopped by someone else (SIGSTOP) and continued: whoever had the terminal meanwhile
        // may have left it in other modes.
        continued = 0;
        if (after_pause) after_pause();
    }
}

bool stop_until_continued(int signal) {
    // An ending signal that came first is acted on, not slept through.
    if (take_held_signals(true) && !exit_in_progress) halt_program();
    const bool caught = signal == SIGTSTP && (held_signal_mask & signal_bit(SIGTSTP));
    if (caught) set_default_action(signal);
    continued = 0;
    // Sent while held back, taken below together with the ending signals and SIGCONT.
    system_call(SYS_kill, system_call(SYS_getpid), signal);
    uint64_t blocked = 0;
    system_call(SYS_rt_sigprocmask, SIG_BLOCK, 0, reinterpret_cast<long>(&blocked), sizeof blocked);
    const uint64_t let_in = signal_bit(signal) | ((ending_signals | signal_bit(SIGCONT)) & held_signal_mask);
    change_mask(SIG_UNBLOCK, let_in);  // stopped here until SIGCONT
    system_call(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&blocked), 0, sizeof blocked);
    if (caught) catch_signal(signal, on_pause_signal);
    const bool stopped = continued != 0;
    continued = 0;
    if (stop_signal != 0 && !exit_in_progress) halt_program();
    return stopped;
}

void die_by_stop_signal() {
    const int signal = stop_signal;
    set_default_action(signal);
    system_call(SYS_kill, system_call(SYS_getpid), signal);
    change_mask(SIG_UNBLOCK, signal_bit(signal));
    // Only if the signal could not end the process: the status a shell would report.
    system_call(SYS_exit_group, 128 + signal);
    __builtin_unreachable();
}

}  // namespace zuva
