#include "runtime/shell.h"

#include <sys/syscall.h>

#include <cstring>

#include "runtime/command_tree.h"
#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

constexpr long pidfd_open_call = 434;  // SYS_pidfd_open, Linux 5.3 and later
constexpr long no_hang = 1;            // WNOHANG
constexpr int eintr = 4;
constexpr int32_t fallback_poll_ms = 20;

// Waits for the child with the held signals let in from the check to the block: a signal that
// comes just after the fork, or while the installer is stopped during the command, is acted on at
// once instead of being noted and slept through. The child's pidfd is the wait's descriptor;
// without one (an older kernel) the wait looks again every 20 ms.
long wait_for_command(long pid, int& status) {
    long pidfd = system_call(pidfd_open_call, pid, 0);
    pollfd child{static_cast<int>(pidfd), POLLIN, 0};
    long waited;
    for (;;) {
        waited = system_call(SYS_wait4, pid, reinterpret_cast<long>(&status), no_hang, 0);
        if (waited != 0 && !(waited == -1 && last_os_error == eintr)) break;
        long ready = pidfd >= 0 ? wait_letting_signals_in(&child, 1, -1)
                                : wait_letting_signals_in(nullptr, 0, fallback_poll_ms);
        if (ready == -1 && last_os_error == eintr) {
            // Ends the installer, and with it the command; or pauses them both.
            act_on_signals();
        } else if (ready == -1) {
            // The wait itself cannot be made: block on the child as before.
            waited = system_call(SYS_wait4, pid, reinterpret_cast<long>(&status), 0, 0);
            if (waited != -1 || last_os_error != eintr) break;
        }
    }
    if (pidfd >= 0) system_call(SYS_close, pidfd);
    return waited;
}

}  // namespace

int32_t run_shell(const BoundedString& command) {
    // No command starts once the installer has been told to end.
    act_on_signals();
    char* line = new char[command.length + 1];
    std::memcpy(line, command.chars, command.length);
    line[command.length] = '\0';
    char** args = new char*[4];
    args[0] = const_cast<char*>("/bin/sh");
    args[1] = const_cast<char*>("-c");
    args[2] = line;
    args[3] = nullptr;

    int32_t result = -1;
    long pid = system_call(SYS_fork);
    if (pid == 0) {
        // The command gets the signals as the installer got them at start: none held back.
        system_call(SYS_rt_sigprocmask, 2 /* SIG_SETMASK */, reinterpret_cast<long>(&open_signal_mask), 0,
                    sizeof open_signal_mask);
        system_call(SYS_execve, reinterpret_cast<long>(args[0]), reinterpret_cast<long>(args),
                    reinterpret_cast<long>(saved_envp));
        // No exit handler, no output, no terminal change: the shell could not be started.
        system_call(SYS_exit_group, 127);
    }
    if (pid > 0) {
        int status = 0;
        running_command = static_cast<int32_t>(pid);
        long waited = wait_for_command(pid, status);
        running_command = 0;
        result = waited > 0 ? status : -1;
        reap_command_orphans();
    }
    delete[] line;
    delete[] args;
    act_on_signals();
    return result;
}

}  // namespace zuva
