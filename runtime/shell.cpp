#include "runtime/shell.h"

#include <sys/syscall.h>

#include <cstring>

#include "runtime/process.h"
#include "runtime/system_call.h"

namespace zuva {

int32_t run_shell(const BoundedString& command) {
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
        system_call(SYS_execve, reinterpret_cast<long>(args[0]), reinterpret_cast<long>(args),
                    reinterpret_cast<long>(saved_envp));
        // No exit handler, no output, no terminal change: the shell could not be started.
        system_call(SYS_exit_group, 127);
    }
    if (pid > 0) {
        int status = 0;
        long waited;
        do {
            waited = system_call(SYS_wait4, pid, reinterpret_cast<long>(&status), 0, 0);
        } while (waited == -1 && last_os_error == 4);
        result = waited > 0 ? status : -1;
    }
    delete[] line;
    delete[] args;
    return result;
}

}  // namespace zuva
