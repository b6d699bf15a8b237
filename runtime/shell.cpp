#include "runtime/shell.h"

#include <signal.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>

#include "runtime/command_group.h"
#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

// Waits for the child with the held signals let in from the check to the block: a signal that
// comes just after the fork, or while the installer is stopped during the command, is acted on at
// once instead of being noted and slept through.
long wait_for_command(long pid, int& status) {
    for (;;) {
        const long waited = call_letting_signals_in(command_signals, SYS_wait4, pid, reinterpret_cast<long>(&status), 0);
        if (waited != -1 || last_os_error != EINTR) return waited;
        // Ends the installer, and with it the command; or pauses them both.
        act_on_signals();
    }
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
    prepare_command();
    long pid = system_call(SYS_fork);
    if (pid == 0) {
        enter_command_group();
        // The command gets the signals as the installer got them at start: none held back.
        if (continue_ignored_at_start) signal(SIGCONT, SIG_IGN);
        system_call(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&open_signal_mask), 0,
                    sizeof open_signal_mask);
        system_call(SYS_execve, reinterpret_cast<long>(args[0]), reinterpret_cast<long>(args),
                    reinterpret_cast<long>(saved_envp));
        // No exit handler, no output, no terminal change: the shell could not be started.
        system_call(SYS_exit_group, 127);
    }
    if (pid > 0) {
        int status = 0;
        command_started(static_cast<int32_t>(pid));
        long waited = wait_for_command(pid, status);
        command_ended();
        result = waited > 0 ? status : -1;
    } else {
        command_ended();
    }
    delete[] line;
    delete[] args;
    act_on_signals();
    return result;
}

}  // namespace zuva
