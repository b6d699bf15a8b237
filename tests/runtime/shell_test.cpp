// The shell command runner with the real /bin/sh.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/process.h"
#include "runtime/shell.h"
#include "tests/support/terminal.h"

extern char** environ;

using namespace zuva;
using zuva::test::read_file;
using zuva::test::TempDir;

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { saved_envp = environ; }
};

TEST_F(ShellTest, ResultIsTheRawWaitStatus) {
    EXPECT_EQ(run_shell(bounded("exit 3")), 768);
    EXPECT_EQ(run_shell(bounded("")), 0) << "an empty line still starts the shell";
    EXPECT_EQ(run_shell(bounded("kill -TERM $$")), SIGTERM);
}

TEST_F(ShellTest, TheLineReachesTheShellUnchanged) {
    TempDir dir;
    std::string target = dir.file("out");
    run_shell(bounded("cd " + dir.path + " && touch a b && echo * > out; printf '%s|' \"x  y\" >> out"));
    EXPECT_EQ(read_file(target), "a b\nx  y|");
}

TEST_F(ShellTest, TheChildGetsTheSavedEnvironmentAndNoIgnoredSignals) {
    TempDir dir;
    std::string var = "ZUVA_PROBE_VALUE=kept";
    char* env[] = {var.data(), nullptr};
    saved_envp = env;
    run_shell(bounded("echo \"$ZUVA_PROBE_VALUE\" > " + dir.file("env") + "; grep SigIgn /proc/self/status > " +
                      dir.file("sig")));
    saved_envp = environ;
    EXPECT_EQ(read_file(dir.file("env")), "kept\n");
    // Whatever the test runner ignores is inherited; the runner itself adds nothing.
    FILE* own = fopen("/proc/self/status", "r");
    char line[256];
    std::string mine;
    while (fgets(line, sizeof line, own))
        if (std::string(line).rfind("SigIgn", 0) == 0) mine = line;
    fclose(own);
    EXPECT_EQ(read_file(dir.file("sig")), mine);
}

// The signal comes while the runner sits in its wait for the shell, and the shell ends only once
// the handler has run and the runner waits again.
TEST_F(ShellTest, AnInterruptedWaitWaitsAgainForTheSameChild) {
    static std::atomic<int> taken{0};
    struct sigaction action {};
    action.sa_handler = [](int) { ++taken; };  // no SA_RESTART
    struct sigaction old {};
    sigaction(SIGALRM, &action, &old);
    TempDir dir;
    const std::string go = dir.file("go");
    ASSERT_EQ(mkfifo(go.c_str(), 0600), 0);
    const pid_t runner = gettid();
    const pthread_t runner_thread = pthread_self();
    std::thread other([&] {
        EXPECT_TRUE(zuva::test::comes_to_call(runner, SYS_wait4)) << "no wait for the shell";
        pthread_kill(runner_thread, SIGALRM);
        EXPECT_TRUE(zuva::test::wait_until([&] { return taken == 1; }) && zuva::test::comes_to_call(runner, SYS_wait4))
            << "no wait after the signal";
        const int fifo = open(go.c_str(), O_WRONLY);
        EXPECT_EQ(write(fifo, "\n", 1), 1);
        close(fifo);
    });
    const int32_t result = run_shell(bounded("read line < " + go + "; exit 5"));
    other.join();
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(result, 5 << 8);
}

TEST_F(ShellTest, AShellThatCannotStartEndsWith127) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace";
    pid_t pid = fork();
    if (pid == 0) {
        // In a private namespace, /bin/sh is covered by something that cannot be executed.
        if (unshare(CLONE_NEWNS) != 0) _exit(90);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(91);
        if (mount("/dev/null", "/bin/sh", nullptr, MS_BIND, nullptr) != 0) _exit(92);
        saved_envp = environ;
        int32_t result = run_shell(bounded("exit 0"));
        _exit(result == (127 << 8) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) >= 90) GTEST_SKIP() << "no private mount namespace here (step " << WEXITSTATUS(status) << ")";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
