#include "runtime/shell.h"

#include <sys/syscall.h>

#include <cstring>

#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

constexpr int max_command_processes = 64;

struct ProcessTree {
    int32_t pids[max_command_processes];
    int count = 0;
};

// "/proc/PID/task/PID/children": the children of the process's one thread.
void children_path(char* path, int32_t pid) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid > 0);
    auto put = [&path](const char* text) {
        while (*text) *path++ = *text++;
    };
    auto put_pid = [&] {
        for (int i = n; i > 0; --i) *path++ = digits[i - 1];
    };
    put("/proc/");
    put_pid();
    put("/task/");
    put_pid();
    put("/children");
    *path = '\0';
}

// Adds the process and, once it is stopped and cannot start more, the children it has, and
// theirs: a signal to the shell alone would leave the command it started running.
void freeze_tree(ProcessTree& tree, int32_t pid) {
    if (tree.count == max_command_processes) return;
    if (system_call(SYS_kill, pid, 19 /* SIGSTOP */) != 0) return;
    tree.pids[tree.count++] = pid;
    char path[64];
    children_path(path, pid);
    long fd = system_call(SYS_open, reinterpret_cast<long>(path), 0);
    if (fd < 0) return;  // no /proc: the process itself is all that is known
    char list[512];
    long got = system_call(SYS_read, fd, reinterpret_cast<long>(list), sizeof list);
    system_call(SYS_close, fd);
    int32_t child = 0;
    for (long i = 0; i < got; ++i) {
        if (list[i] >= '0' && list[i] <= '9') {
            child = child * 10 + (list[i] - '0');
        } else if (child > 0) {
            freeze_tree(tree, child);
            child = 0;
        }
    }
}

void signal_tree(const ProcessTree& tree, int signal) {
    for (int i = 0; i < tree.count; ++i) system_call(SYS_kill, tree.pids[i], signal);
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
        // While the command runs, a signal from outside goes to it and to whatever it started.
        // An ending signal ends the wait at once: a command that waits for its own children
        // (a shell does, on SIGINT) must not keep the installer from giving the terminal back.
        let_signals_in(true);
        int status = 0;
        long waited;
        for (;;) {
            waited = system_call(SYS_wait4, pid, reinterpret_cast<long>(&status), 0, 0);
            if (waited != -1 || last_os_error != 4) break;
            let_signals_in(false);
            if (stop_signal != 0 || pause_pending()) {
                ProcessTree command;
                freeze_tree(command, static_cast<int32_t>(pid));
                if (stop_signal != 0) signal_tree(command, stop_signal);
                pause_if_asked();
                signal_tree(command, 18 /* SIGCONT */);
            }
            if (stop_signal != 0) break;
            let_signals_in(true);
        }
        let_signals_in(false);
        result = waited > 0 ? status : -1;
    }
    delete[] line;
    delete[] args;
    act_on_signals();
    return result;
}

}  // namespace zuva
