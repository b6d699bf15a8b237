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

// The kernel drops a pending SIGCONT whenever a stop signal is sent, so a SIGCONT that comes just
// as the pause sends the installer its own stop would be lost, and the installer left stopped.
// A SIGTTIN kept pending and blocked from before a SIGTSTP is taken tells: every SIGCONT drops it,
// so if it is gone once the pause has sent its stop, a SIGCONT came after the request.
constexpr int request_mark = SIGTTIN;
long own_pid = 0;
bool mark_kept = false;           // SIGTTIN blocked for the mark, maybe pending
bool mark_blocked = false;        // blocked by the installer, not by whoever started it
volatile int32_t mark_lost = 0;   // dropped by a SIGCONT before the request: it cannot tell

// Sends the mark. Sending it drops a SIGCONT that came meanwhile: harmless where no request is
// being acted on, and where one is, the caller looks for the trace such a SIGCONT leaves.
void send_request_mark() {
    if (!mark_kept) {
        const uint64_t mark = signal_bit(request_mark);
        uint64_t blocked = 0;
        system_call(SYS_rt_sigprocmask, SIG_BLOCK, reinterpret_cast<long>(&mark), reinterpret_cast<long>(&blocked),
                    sizeof mark);
        mark_blocked = !(blocked & mark);
        mark_kept = true;
    }
    system_call(SYS_kill, own_pid, request_mark);
}

void on_held_signal(int signal, siginfo_t*, void* context) {
    if (signal == SIGTSTP) {
        pause_requested = 1;
        continued = 0;  // only a SIGCONT after this request calls the pause off
        if (mark_kept) {
            // Without the mark and with no SIGCONT after this request, one came before it. The
            // interrupted code's error and wait stay as they were.
            const int32_t error = last_os_error;
            const int32_t state = wait_state;
            wait_state = wait_idle;
            if (!(pending_signals() & (signal_bit(request_mark) | signal_bit(SIGCONT)))) mark_lost = 1;
            wait_state = state;
            last_os_error = error;
        }
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
    own_pid = system_call(SYS_getpid);
}

void drop_request_mark() {
    if (!mark_kept) return;
    // Set to be ignored, a signal is dropped even while blocked.
    struct sigaction found {};
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(request_mark, &ignore, &found);
    sigaction(request_mark, &found, nullptr);
    if (mark_blocked) change_mask(SIG_UNBLOCK, signal_bit(request_mark));
    mark_kept = false;
    mark_lost = 0;
}

void hold_terminal_stops(bool hold) { change_mask(hold ? SIG_BLOCK : SIG_UNBLOCK, signal_bit(SIGTTOU)); }

bool take_held_signals(uint64_t signals) {
    const uint64_t pending = pending_signals();
    const bool tracking = held_signal_mask & signal_bit(SIGTSTP);
    if (tracking && (pending & signal_bit(SIGTSTP)) && !(pending & signal_bit(request_mark))) {
        // A SIGTSTP about to be taken finds the mark in place. If a SIGCONT came just now, it
        // dropped this SIGTSTP and the mark dropped it in turn: a request already taken is
        // called off here instead.
        send_request_mark();
        if (pending_signals() & signal_bit(SIGTSTP)) {
            mark_lost = 0;
        } else if (pause_requested || pause_in_progress) {
            continued = 1;
        }
    }
    if (pending & held_signal_mask) {
        // Whatever arrived while held back is delivered now.
        change_mask(SIG_UNBLOCK, held_signal_mask);
        change_mask(SIG_BLOCK, held_signal_mask);
    }
    // So does a SIGTSTP that comes during the wait that follows. (With no request being acted
    // on, a SIGCONT the mark drops continues nothing.)
    if (tracking && (signals & signal_bit(SIGTSTP)) && !pause_requested && !pause_in_progress &&
        !(pending_signals() & signal_bit(request_mark)))
        send_request_mark();
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
    if (!continued && call_letting_signals_in(signal_bit(SIGCONT), SYS_kill, self, signal) == 0 && caught &&
        mark_kept && !mark_lost && !(pending_signals() & signal_bit(request_mark))) {
        // A SIGCONT came after the request, and the stop just sent may have dropped it: the
        // pause is called off, and that stop dropped in turn (caught again below).
        continued = 1;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(signal, &ignore, nullptr);
    }
    uint64_t blocked = 0;
    system_call(SYS_rt_sigprocmask, SIG_BLOCK, 0, reinterpret_cast<long>(&blocked), sizeof blocked);
    change_mask(SIG_UNBLOCK, signal_bit(signal) | ((ending_signals | signal_bit(SIGCONT)) & held_signal_mask));
    system_call(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&blocked), 0, sizeof blocked);
    if (caught) catch_signal(signal);
    if (signal == SIGTSTP) drop_request_mark();
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
