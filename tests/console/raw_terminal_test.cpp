// Raw mode and the terminal given back: keys as typed and output as written, the attributes restored after
// every end of a real process (normal, run-time error, fault signal), the cursor report, and
// input that is not the output's terminal.
#include "console/raw_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "tests/console/console_probe_run.h"
#include "tests/support/terminal.h"

namespace zuva {
namespace {

using test::PtyProgram;
using test::settings;
using test::shown;

// What is there to read on fd within the time, up to the count.
std::string read_some(int fd, std::size_t count, int timeout_ms = 5000) {
    std::string got;
    char buffer[64];
    pollfd p{fd, POLLIN, 0};
    while (got.size() < count && poll(&p, 1, timeout_ms) > 0) {
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

// Attributes no terminal starts with, so that giving back "some default" would show.
void make_unusual(int fd) {
    struct termios t {};
    tcgetattr(fd, &t);
    t.c_lflag &= ~tcflag_t(ECHOCTL);
    t.c_iflag |= IGNBRK | INLCR;
    t.c_cflag |= PARENB;
    t.c_cc[VERASE] = 0x08;
    t.c_cc[VMIN] = 3;
    tcsetattr(fd, TCSANOW, &t);
}

struct termios attributes(int fd) {
    struct termios t {};
    tcgetattr(fd, &t);
    return t;
}

TEST(CursorReportTest, ReplyIsReadAsRowThenColumn) {
    struct Case {
        std::string bytes;
        int column, row;
    };
    const Case cases[] = {
        {"\x1b[12;40R", 40, 12},
        {"\x1b[1;1R", 1, 1},
        {"ab\x1b[3;7R", 7, 3},            // keys typed ahead are passed over
        {"\x1b[12;40Rxyz", 40, 12},
        {"\x1b[1;300R", 44, 1},           // kept to a byte
        {"\x1b[x;5R", 5, 0},              // a row that is no number reads as 0
        {"\x1b[1R", 0, 0},                // too short
        {"\x1b[12:40R", 0, 0},            // no ";"
        {"\x1b[12;40", 0, 0},             // no "R"
        {"\x1b[4R;5", 0, 0},              // "R" before the ";"
        {"", 0, 0},
        {"123456789", 0, 0},
        {"\x1b[123456789012345;1R", 0, 0},  // the ";" lies beyond the 16 bytes looked at
    };
    for (const Case& c : cases) {
        uint8_t column = 99, row = 99;
        parse_cursor_report(c.bytes, column, row);
        EXPECT_EQ(column, c.column) << shown(c.bytes);
        EXPECT_EQ(row, c.row) << shown(c.bytes);
    }
}

// On a terminal as a new pseudo-terminal has it, each key arrives at once and as typed (Ctrl+C,
// Ctrl+Z, Ctrl+\\, Ctrl+S, Ctrl+Q, Ctrl+V, CR and 8-bit bytes too), nothing is echoed, and a line
// feed goes out as it is written.
TEST(RawModeTest, KeysArriveAtOnceAsTypedWithoutEchoAndOutputGoesOutAsWritten) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    struct termios before = attributes(slave);
    int saved_stdout = dup(1);
    tty_attrs_saved = false;
    dup2(slave, 1);
    set_raw_mode(true);
    for (const std::string typed : {"x", "\x03\x1a\x1c\x13\x11\x16\r\n\xe9\x7f"}) {
        ASSERT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        EXPECT_EQ(shown(read_some(slave, typed.size())), shown(typed));
    }
    EXPECT_EQ(read_some(master, 1, 0), "") << "echoed";
    ASSERT_EQ(write(slave, "a\nb", 3), 3);
    EXPECT_EQ(shown(read_some(master, 3)), shown("a\nb"));
    EXPECT_EQ(read_some(master, 1, 0), "");
    set_raw_mode(false);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    tty_attrs_saved = false;
    EXPECT_EQ(settings(attributes(slave)), settings(before));
    close(slave);
    close(master);
}

TEST(RawModeTest, GivesBackTheAttributesItFound) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    make_unusual(slave);
    struct termios before = attributes(slave);
    int saved_stdout = dup(1);

    // Nothing saved yet: switching raw mode off must leave the terminal alone.
    tty_attrs_saved = false;
    dup2(slave, 1);
    set_raw_mode(false);
    struct termios untouched = attributes(slave);
    set_raw_mode(true);
    struct termios during = attributes(slave);
    // Found waiting for three bytes, raw mode still hands over each key at once.
    ASSERT_EQ(write(master, "k", 1), 1);
    EXPECT_EQ(read_some(slave, 1), "k");
    set_raw_mode(false);
    struct termios after = attributes(slave);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    tty_attrs_saved = false;

    EXPECT_EQ(settings(untouched), settings(before));
    EXPECT_NE(settings(during), settings(before));
    EXPECT_EQ(settings(saved_tty_attrs), settings(before));
    EXPECT_EQ(settings(after), settings(before));
    close(slave);
    close(master);
}

TEST(RawModeTest, NotATerminalSavesNothing) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved_stdout = dup(1);
    tty_attrs_saved = false;
    dup2(fds[1], 1);
    set_raw_mode(true);
    bool saved = tty_attrs_saved;
    set_raw_mode(false);
    dup2(saved_stdout, 1);
    close(saved_stdout);
    close(fds[0]);
    close(fds[1]);
    EXPECT_FALSE(saved);
}

class TerminalRestoreTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string report_path = dir.file("report");

    // Runs the probe on a terminal whose attributes are read before, during and after it.
    // ready: the probe shows "ready" once started; end: what ends it then.
    void run(const std::string& action, const std::function<void(PtyProgram&)>& end, const std::string& expected_exit) {
        PtyProgram p;
        ASSERT_TRUE(p.start({test::startup_probe(), report_path, "stop-" + action}));
        int status = 0;
        ASSERT_EQ(waitpid(p.pid, &status, WUNTRACED), p.pid);
        ASSERT_TRUE(WIFSTOPPED(status));
        int slave = open(ptsname(p.master), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave, 0);
        make_unusual(slave);
        struct termios before = attributes(slave);
        kill(p.pid, SIGCONT);

        ASSERT_TRUE(p.wait_for_text("ready")) << p.screen.dump();
        EXPECT_NE(settings(attributes(slave)), settings(before)) << "no raw mode while " << action << " runs";
        end(p);
        EXPECT_EQ(test::exit_shown(p.wait_exit()), expected_exit);
        // The slave stays open here, so the terminal keeps what the program left.
        EXPECT_EQ(settings(attributes(slave)), settings(before)) << "after " << action;
        close(slave);
        test::ProbeReport r = test::read_report(report_path);
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.cells_released, 1);
    }
};

TEST_F(TerminalRestoreTest, AfterANormalEnd) {
    run("wait", [](PtyProgram& p) { p.type("x"); }, "exit status 0");
}

TEST_F(TerminalRestoreTest, AfterARunTimeError) {
    run("error", [](PtyProgram& p) { p.type("x"); }, "exit status 2");
}

TEST_F(TerminalRestoreTest, AfterAFaultSignalFromOutside) {
    run("pause", [](PtyProgram& p) { kill(p.pid, SIGSEGV); }, "exit status 216");
}

class InputTakeOverTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string report_path = dir.file("report");
    std::string probe_command(const std::string& action) {
        return "exec '" + test::startup_probe() + "' '" + report_path + "' " + action;
    }
};

TEST_F(InputTakeOverTest, InputFromAPipeIsRedirected) {
    PtyProgram p;
    ASSERT_TRUE(p.start({"/bin/sh", "-c", "true | " + probe_command("end")}));
    EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
    // The query went to the pipe and was lost; no answer came within the second.
    EXPECT_EQ(shown(p.output), shown("\x1b[H\x1b[m"));
    test::ProbeReport r = test::read_report(report_path);
    EXPECT_EQ(r.input_redirected, 1);
    EXPECT_EQ(r.output_redirected, 0);
    EXPECT_GE(r.start_ms, 950);
}

TEST_F(InputTakeOverTest, InputFromAnotherTerminalIsRedirected) {
    int other_master = -1, other_slave = -1;
    ASSERT_EQ(openpty(&other_master, &other_slave, nullptr, nullptr, nullptr), 0);
    std::string other_name = ttyname(other_slave);
    PtyProgram p;
    // Opened for reading and writing, as a terminal normally is: the query goes out on it.
    ASSERT_TRUE(p.start({"/bin/sh", "-c", probe_command("end") + " <>" + other_name}));
    EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
    EXPECT_EQ(shown(p.output), shown("\x1b[H\x1b[m"));
    EXPECT_EQ(shown(read_some(other_master, 4)), shown("\x1b[6n"));
    EXPECT_EQ(read_some(other_master, 1, 0), "");
    test::ProbeReport r = test::read_report(report_path);
    EXPECT_EQ(r.input_redirected, 1);
    EXPECT_EQ(r.output_redirected, 0);
    close(other_slave);
    close(other_master);
}

}  // namespace
}  // namespace zuva
