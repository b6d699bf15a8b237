#include "runtime/shell.h"

#include <sys/syscall.h>

#include <cstring>

#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

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
        // While the command runs, a signal from outside is passed on to it; the installer
        // acts on it once the command has ended.
        running_child = static_cast<int32_t>(pid);
        let_signals_in(true);
        int status = 0;
        long waited;
        for (;;) {
            waited = system_call(SYS_wait4, pid, reinterpret_cast<long>(&status), 0, 0);
            if (waited != -1 || last_os_error != 4) break;
            let_signals_in(false);
            pause_if_asked();
            let_signals_in(true);
        }
        let_signals_in(false);
        running_child = 0;
        result = waited > 0 ? status : -1;
    }
    delete[] line;
    delete[] args;
    act_on_signals();
    return result;
}

}  // namespace zuva
