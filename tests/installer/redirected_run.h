// Runs a program without a terminal: input from a pipe, output into a file.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/terminal.h"

extern char** environ;

namespace zuva::test {

struct RedirectedRun {
    int status = -1;  // wait status; -1 when the program did not end in time (it is then killed)
    std::string output;
};

// env: NAME=VALUE entries that replace or add to the test's own environment. The input is written
// whole and the pipe closed, so the program sees exactly these bytes and then the end of its input;
// later_input, when given, follows once the program has read the input and waits in a read
// again, so that it comes in a read of its own.
// closed_fd: a standard descriptor (0, 1 or 2) that the program starts without. meanwhile, when
// given, is called with the program's process id once its input is written.
inline RedirectedRun run_redirected(const std::vector<std::string>& argv, std::string_view input,
                                    const std::string& output_path, const std::vector<std::string>& env = {},
                                    const std::string& cwd = "", int timeout_ms = 20000,
                                    std::string_view later_input = {}, int closed_fd = -1,
                                    const std::function<void(pid_t)>& meanwhile = {}) {
    std::vector<std::string> env_strings = zuva::test::environment_with(env);
    std::vector<std::string> arg_strings = argv;
    std::vector<char*> args = zuva::test::c_strings(arg_strings), envp = zuva::test::c_strings(env_strings);

    RedirectedRun run;
    int in[2];
    if (pipe(in) != 0) return run;
    int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) return run;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out, 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(in[0]);
        close(in[1]);
        close(out);
        close(null);
        if (closed_fd >= 0) close(closed_fd);
        setsid();  // no controlling terminal: nothing of the test's own terminal is touched
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out);
    signal(SIGPIPE, SIG_IGN);  // the program may end without reading all of its input
    auto write_all = [&](std::string_view piece) {
        size_t done = 0;
        while (done < piece.size()) {
            ssize_t n = write(in[1], piece.data() + done, piece.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    };
    write_all(input);
    if (!later_input.empty()) {
        const bool read = wait_until([&] {
            int unread = -1;
            return ioctl(in[1], FIONREAD, &unread) == 0 && unread == 0 && comes_to_wait_for_input(pid, 0);
        });
        EXPECT_TRUE(read) << "the input before the later input was never read";
        write_all(later_input);
    }
    close(in[1]);
    if (meanwhile) meanwhile(pid);

    int st = 0;
    if (wait_until([&] { return waitpid(pid, &st, WNOHANG) == pid; }, timeout_ms)) {
        run.status = st;
    } else {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    run.output = read_file(output_path);
    return run;
}

}  // namespace zuva::test
