// The command line: --help, --version and refused arguments on a terminal, into files and pipes;
// the manual page; the installed program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/terminal.h"

namespace {

using namespace zuva::test;

constexpr int usage_status = 240;
const std::string version_text = "zuva-install (ZUVA Linux) pre1-2.0\n";

struct Ended {
    int status = -1;  // wait status
    std::string out, err;
};

// Runs the program with descriptor 1 on out (closed when -1), standard error into a file and no
// input, so that a dialogue started by mistake ends at once.
Ended run_with_output(std::vector<std::string> argv, int out, bool ignore_sigpipe = false,
                    const std::string& program = ZUVA_INSTALL_PATH) {
    TempDir dir;
    int err = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    argv.insert(argv.begin(), program);
    std::vector<char*> args = c_strings(argv);
    Ended run;
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, ignore_sigpipe ? SIG_IGN : SIG_DFL);
        dup2(open("/dev/null", O_RDONLY), 0);
        if (out >= 0) dup2(out, 1); else close(1);
        dup2(err, 2);
        setsid();
        execv(args[0], args.data());
        _exit(127);
    }
    close(err);
    waitpid(pid, &run.status, 0);
    run.err = read_file(dir.file("err"));
    return run;
}

Ended run_into_file(const std::vector<std::string>& argv, const std::string& program = ZUVA_INSTALL_PATH) {
    TempDir dir;
    int out = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Ended run = run_with_output(argv, out, false, program);
    close(out);
    run.out = read_file(dir.file("out"));
    return run;
}

// A shell command's exit status, its output and errors in output.
int shell(const std::string& command, std::string& output) {
    int status = -1;
    output = output_of(command + " 2>&1", &status);
    return status;
}

std::string usage_text() { return run_with_output({"--bogus"}, -1).err; }

TEST(CommandLine, RedirectedHelpAndVersionAndRefusedArguments) {
    const std::string usage = usage_text();
    for (const char* says : {"Usage: zuva-install", "as root", "cp -ra /vdr/* /drive/", "status 240.", "man 8 zuva-install"})
        EXPECT_NE(usage.find(says), std::string::npos) << says;

    const Ended help = run_into_file({"--help"}), version = run_into_file({"--version"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, usage);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, version_text);

    const std::vector<std::vector<std::string>> refused = {
        {"--bogus"}, {""}, {"--help", "extra"}, {"--version", "--help"}, {"-h"}, {"--"}, {"--help="}, {"\x1b[2J"}};
    for (const auto& argv : refused) {
        const Ended run = run_into_file(argv);
        EXPECT_EQ(run.status, usage_status << 8) << argv[0];
        EXPECT_EQ(run.out, "") << argv[0];
        EXPECT_EQ(run.err, usage) << argv[0];
    }
}

TEST(CommandLine, HelpIntoAClosedPipeAFullDeviceOrAClosedDescriptor) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    close(pipe_ends[0]);
    const Ended killed = run_with_output({"--help"}, pipe_ends[1]);
    EXPECT_TRUE(WIFSIGNALED(killed.status) && WTERMSIG(killed.status) == SIGPIPE) << killed.status;
    EXPECT_EQ(run_with_output({"--version"}, pipe_ends[1], true).status, 101 << 8);
    close(pipe_ends[1]);

    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    EXPECT_EQ(run_with_output({"--help"}, full).status, 101 << 8);
    close(full);

    EXPECT_EQ(run_with_output({"--help"}, -1).status, 0);
    EXPECT_EQ(run_with_output({"--bogus"}, -1).status, usage_status << 8);
}

TEST(CommandLine, OnATerminalNothingButTheTextAndTheModesStayAsTheyWere) {
    const std::string usage = usage_text();
    for (auto [argument, text, status] : {std::tuple{"--help", usage, 0}, std::tuple{"--version", version_text, 0},
                                          std::tuple{"--bogus", usage, usage_status << 8}}) {
        PtyProgram program;
        ASSERT_TRUE(program.start({ZUVA_INSTALL_PATH, argument}));
        EXPECT_EQ(program.wait_exit(), status) << argument;
        std::string on_terminal;  // the terminal turns each line end into CR LF
        for (char c : text) on_terminal += c == '\n' ? std::string("\r\n") : std::string(1, c);
        EXPECT_EQ(program.output, on_terminal) << argument;
        EXPECT_TRUE(attributes_as_new(program.master)) << argument;
    }
}

TEST(CommandLine, ManualPageRendersWithoutWarnings) {
    const std::string page = ZUVA_SOURCE_DIR "/docs/zuva-install.8";
    std::string groff, man;
    EXPECT_EQ(shell("groff -man -ww -z '" + page + "'", groff), 0) << groff;
    EXPECT_EQ(groff, "");
    EXPECT_EQ(shell("man --warnings -l '" + page + "' >/dev/null", man), 0) << man;
    EXPECT_EQ(man, "");
}

TEST(CommandLine, InstallPutsTheProgramInSbinAndThePageInSectionEight) {
    TempDir prefix;
    std::string log;
    ASSERT_EQ(shell(std::string("'") + ZUVA_CMAKE + "' --install '" + ZUVA_BUILD_DIR + "' --prefix '" + prefix.path + "'",
                    log), 0) << log;
    EXPECT_EQ(read_file(prefix.file("share/man/man8/zuva-install.8")), read_file(ZUVA_SOURCE_DIR "/docs/zuva-install.8"));
    const Ended run = run_into_file({"--version"}, prefix.file("sbin/zuva-install"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, version_text);
}

}  // namespace
