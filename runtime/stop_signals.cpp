#include "runtime/stop_signals.h"

#include "runtime/command_group.h"
#include "runtime/process.h"

namespace zuva {

volatile int32_t stop_signal = 0;
volatile int32_t hang_up_noted = 0;
void (*before_pause)() = nullptr;
void (*after_pause)() = nullptr;
uint64_t open_signal_mask = 0;
bool continue_ignored_at_start = false;
bool pause_in_progress = false;

namespace {

uint64_t held_signal_mask = 0;
volatile int32_t pause_requested = 0;
volatile int32_t continued = 0;

void change_mask(int how, uint64_t mask) {
    system_call(SYS_rt_sigprocmask, how, reinterpret_cast<long>(&mask), 0, sizeof mask);
}

uint64_t pending_signals() {
    uint64_t pending = 0;
    system_call(SYS_rt_sigpending, reinterpret_cast<long>(&pending), sizeof pending);
    return pending;
}

void on_held_signal(int signal, siginfo_t*, void* context) {
    if (signal == SIGTSTP) {
        pause_requested = 1;
        continued = 0;  // only a SIGCONT after this request calls the pause off
    } else if (signal == SIGCONT) {
        continued = 1;
    } else if (signal == SIGHUP) {
        hang_up_noted = 1;
    } else if (stop_signal == 0) {
        stop_signal = signal;
    }
    cut_short_at(context);
}

bool ignored(int signal) {
    struct sigaction found {};
    sigaction(signal, nullptr, &found);
    return found.sa_handler == SIG_IGN;
}

void catch_signal(int signal) {
    struct sigaction action {};
    action.sa_sigaction = on_held_signal;
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a wait is cut short and acts at once
    // Never one handler inside another: a SIGCONT must not be undone by the SIGTSTP before it.
    sigemptyset(&action.sa_mask);
    for (int held : {SIGTERM, SIGINT, SIGQUIT, SIGTSTP, SIGHUP, SIGCONT}) sigaddset(&action.sa_mask, held);
    sigaction(signal, &action, nullptr);
}

void set_default_action(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// Pauses with the terminal given back and the command stopped with it, so the shell sees an
// ordinary stop; on SIGCONT both go on, unless an ending signal came meanwhile.
void pause_here() {
    pause_requested = 0;
    pause_in_progress = true;
    pause_command();
    hold_terminal_stops(true);
    if (before_pause) before_pause();
    hold_terminal_stops(false);
    stop_until_continued(SIGTSTP);
    if (after_pause) after_pause();
    pause_in_progress = false;
    continue_command();
}

}  // namespace

void catch_stop_signals() {
    system_call(SYS_rt_sigprocmask, SIG_BLOCK, 0, reinterpret_cast<long>(&open_signal_mask), sizeof open_signal_mask);
    held_signal_mask = 0;
    for (int signal : {SIGTERM, SIGINT, SIGQUIT, SIGTSTP, SIGHUP}) {
        // Ignored at start, it stays ignored: whoever started the installer wants it so (nohup).
        if (ignored(signal)) continue;
        catch_signal(signal);
        held_signal_mask |= signal_bit(signal);
    }
    // Ignoring SIGCONT keeps no process stopped, so the installer takes it all the same; its
    // commands get it as found.
    continue_ignored_at_start = ignored(SIGCONT);
    catch_signal(SIGCONT);
    held_signal_mask |= signal_bit(SIGCONT);
    change_mask(SIG_BLOCK, held_signal_mask);
}

void hold_terminal_stops(bool hold) { change_mask(hold ? SIG_BLOCK : SIG_UNBLOCK, signal_bit(SIGTTOU)); }

bool take_held_signals(uint64_t signals) {
    if (pending_signals() & held_signal_mask) {
        // Whatever arrived while held back is delivered now.
        change_mask(SIG_UNBLOCK, held_signal_mask);
        change_mask(SIG_BLOCK, held_signal_mask);
    }
    return (stop_signal != 0 && (signals & ending_signals)) || (pause_requested && (signals & signal_bit(SIGTSTP))) ||
           (continued && (signals & signal_bit(SIGCONT))) || (hang_up_noted && (signals & signal_bit(SIGHUP)));
}

void act_on_signals() {
    // Never twice: the exit path's own waits only cut their output short.
    if (exit_in_progress) return;
    take_held_signals(0);
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
    if (signal != SIGTSTP) continued = 0;
    // An ending signal that came first is acted on, not slept through.
    if (take_held_signals(ending_signals) && !exit_in_progress) halt_program();
    // A SIGTSTP that came meanwhile is this same stop, as the kernel would merge it.
    if (signal == SIGTSTP) pause_requested = 0;
    const bool caught = signal == SIGTSTP && (held_signal_mask & signal_bit(SIGTSTP));
    if (caught) set_default_action(signal);
    // Sent while held back, taken below together with the ending signals and SIGCONT. A SIGCONT
    // that came after the request calls the stop off, as the kernel's own order would: the stop
    // sent now would discard it, so it is let in up to the sending.
    const long self = system_call(SYS_getpid);
    if (!continued) call_letting_signals_in(signal_bit(SIGCONT), SYS_kill, self, signal);
    uint64_t blocked = 0;
    system_call(SYS_rt_sigprocmask, SIG_BLOCK, 0, reinterpret_cast<long>(&blocked), sizeof blocked);
    change_mask(SIG_UNBLOCK, signal_bit(signal) | ((ending_signals | signal_bit(SIGCONT)) & held_signal_mask));
    system_call(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&blocked), 0, sizeof blocked);
    if (caught) catch_signal(signal);
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
