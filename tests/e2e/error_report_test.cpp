// A df.tmp that cannot be read ends the installer with the run-time error report.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/dialogue_session.h"
#include "tests/installer/redirected_run.h"

namespace {

using namespace zuva::test;

// The report's lines, from its header to the end of the output, line ends taken off.
std::vector<std::string> report_lines(const std::string& output, const std::string& line_end) {
    std::vector<std::string> lines;
    size_t at = output.find("Runtime error ");
    if (at == std::string::npos) return lines;
    for (size_t end; (end = output.find(line_end, at)) != std::string::npos; at = end + line_end.size())
        lines.push_back(output.substr(at, end - at));
    if (at < output.size()) lines.push_back(output.substr(at));
    return lines;
}

uintptr_t address_in(const std::string& frame_line) {
    return frame_line.rfind("  0x", 0) == 0 ? std::strtoul(frame_line.c_str() + 4, nullptr, 16) : 0;
}

// Header, the same address, the dialogue after its call of list_file, the process entry after
// its call of the main routine, and an empty line.
void expect_five_line_report(const std::vector<std::string>& lines, int number) {
    ASSERT_EQ(lines.size(), 5u);
    const std::string header = "Runtime error " + std::to_string(number) + " at 0x";
    ASSERT_EQ(lines[0].substr(0, header.size()), header);
    const std::string address = lines[0].substr(header.size());
    ASSERT_TRUE(is_hex8(address)) << address;
    EXPECT_EQ(lines[1], "  0x" + address);
    EXPECT_EQ(function_at(ZUVA_INSTALL_PATH, address_in(lines[1])).rfind("zuva::list_file(", 0), 0u);
    EXPECT_EQ(function_at(ZUVA_INSTALL_PATH, address_in(lines[2])), "zuva::installer_main()");
    EXPECT_EQ(function_at(ZUVA_INSTALL_PATH, address_in(lines[3])), "zuva_call_outermost");
    EXPECT_EQ(lines[4], "");
}

TEST(ErrorReport, MissingDfTmpAtTheFirstMountCheckOnATerminal) {
    Session s;
    ASSERT_TRUE(s.start(command_script(s, "df", "rm -f df.tmp\n")));  // a df that leaves no df.tmp behind
    ASSERT_TRUE(s.answers({{&welcome, ""}, {&interest, "y"}, {&warranty, ""}, {&cd_device, "s"}}));
    EXPECT_EQ(s.exit_status(), 2);

    // The terminal has its line ends back (output post-processing on) before the report.
    const std::vector<std::string> lines = report_lines(s.program.output, "\r\n");
    expect_five_line_report(lines, 2);
    EXPECT_EQ(s.program.output.substr(s.program.output.find("Runtime error ")).find('\x1b'), std::string::npos);
    struct termios attrs {};
    ASSERT_EQ(tcgetattr(s.program.master, &attrs), 0);
    EXPECT_TRUE(attrs.c_lflag & ICANON);
    EXPECT_TRUE(attrs.c_lflag & ECHO);
    EXPECT_TRUE(attrs.c_oflag & OPOST);
    EXPECT_TRUE(attrs.c_iflag & ICRNL);
}

TEST(ErrorReport, DirectoryNamedDfTmpGivesErrorFiveWithTheOutputInAFile) {
    Session s;
    mkdir(s.dir.file("df.tmp").c_str(), 0755);
    RedirectedRun run = run_redirected({ZUVA_INSTALL_PATH}, "\ny\n\n/dev/hdc\ny\n", s.dir.file("screen.out"),
                                       s.environment(), s.dir.path);
    EXPECT_EQ(exit_shown(run.status), "exit status 5");
    expect_five_line_report(report_lines(run.output, "\n"), 5);
    // The mount ran; the dialogue stopped at the listing, before its mount check.
    EXPECT_EQ(s.commands(), std::vector<std::string>{words("mount /dev/hdc /cdrom")});
    EXPECT_EQ(run.output.find("Is it properly mounted?"), std::string::npos);
}

// The functions of the report's frame lines, in order.
std::vector<std::string> reported_functions(const std::string& output) {
    std::vector<std::string> lines = report_lines(output, "\r\n"), functions;
    for (size_t i = 1; i + 1 < lines.size(); ++i) functions.push_back(function_at(ZUVA_INSTALL_PATH, address_in(lines[i])));
    return functions;
}

bool has_function(const std::vector<std::string>& functions, const std::string& start) {
    return std::any_of(functions.begin(), functions.end(), [&](const std::string& f) { return f.rfind(start, 0) == 0; });
}

// A fault while start-up waits for the terminal's cursor reply: raw mode was taken already, so it
// is undone before the report, whose lines then end in CR LF on the restored terminal.
TEST(ErrorReport, AFaultWhileWaitingForTheCursorReplyGivesTheTerminalBack) {
    Session s;
    s.program.answer_queries = false;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.program.wait_for([&] { return s.program.output.find("\x1b[6n") != std::string::npos; }));
    kill(s.program.pid, SIGSEGV);
    EXPECT_EQ(s.exit_status(), 216);
    EXPECT_FALSE(report_lines(s.program.output, "\r\n").empty()) << s.program.output;
    EXPECT_TRUE(attributes_as_new(s.program.master));
}

// A terminal that stopped reading (a dead remote link) holds the listing: an ending signal still
// ends the installer within a second, by that signal, with the terminal's attributes given back,
// though nothing more of the screen gets through.
TEST(ErrorReport, AnEndingSignalEndsTheInstallerWhileTheTerminalTakesNoOutput) {
    Session s;
    ASSERT_TRUE(s.start(command_script(s, "df", "seq 1 200000\n")));
    ASSERT_TRUE(s.answers({{&welcome, ""}, {&interest, "y"}, {&warranty, ""}, {&cd_device, "/dev/hdc"}}));
    ASSERT_TRUE(held_in_output(s.program.pid, s.program.master));
    kill(s.program.pid, SIGTERM);
    int status = 0;
    wait_until([&] { return waitpid(s.program.pid, &status, WNOHANG) != 0; }, 1000);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "not ended within a second: " << status;
    s.program.status = status;
    s.expect_left_clean();
}

// A fault sent while the installer waits in the kernel (for a key, for a command, for the
// terminal to take its output) still lists every routine from the wait out to the entry.
TEST(ErrorReport, AFaultDuringAWaitListsEveryCallerOutToTheEntry) {
    struct Wait {
        const char* name;
        std::vector<std::string> callers;
    };
    for (const Wait& wait : {Wait{"key", {"zuva::read_key()", "zuva::console_read("}},
                             Wait{"command", {"zuva::run_shell("}},
                             Wait{"write", {"zuva::flush_output()", "zuva::list_file("}}}) {
        SCOPED_TRACE(wait.name);
        Session s;
        // The command waits; or a listing far longer than the terminal takes while nobody reads it.
        ASSERT_TRUE(s.start(std::string(wait.name) == "command" ? waiting_command(s, "mount")
                                                                 : command_script(s, "df", "seq 1 200000\n")));
        ASSERT_TRUE(s.answer(welcome, ""));
        if (std::string(wait.name) == "key") {
            ASSERT_TRUE(s.at(interest));
        } else {
            ASSERT_TRUE(s.answers({{&interest, "y"}, {&warranty, ""}, {&cd_device, "/dev/hdc"}}));
        }
        if (std::string(wait.name) == "command") {
            ASSERT_TRUE(s.program.wait_for([&] { return access(s.dir.file("mount.waiting").c_str(), F_OK) == 0; }));
        }
        if (std::string(wait.name) == "write") {
            ASSERT_TRUE(held_in_output(s.program.pid, s.program.master));
        } else if (std::string(wait.name) == "key") {
            ASSERT_TRUE(comes_to_wait_for_input(s.program.pid)) << "not waiting for a key";
        }
        kill(s.program.pid, SIGSEGV);
        EXPECT_EQ(s.exit_status(), 216);
        const std::vector<std::string> functions = reported_functions(s.program.output);
        ASSERT_FALSE(functions.empty()) << s.program.output.substr(s.program.output.find("Runtime error"));
        EXPECT_EQ(functions.front(), "zuva_kernel_call");
        EXPECT_TRUE(has_function(functions, "zuva::system_call("));
        for (const std::string& caller : wait.callers) EXPECT_TRUE(has_function(functions, caller)) << caller;
        EXPECT_TRUE(has_function(functions, "zuva::installer_main()"));
        EXPECT_EQ(functions.back(), "zuva_call_outermost");
        EXPECT_LE(functions.size(), 10u);  // the header's own line and at most nine on a terminal
    }
}

}  // namespace
