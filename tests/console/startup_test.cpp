// The console's start-up and exit: the stream driver it installs, and whole processes on
// pseudo-terminals and files: what is sent at start, the screen size, the cursor taken over
// from the terminal, and what is left at every end.
#include "console/startup.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "console/line_input.h"
#include "console/screen_output.h"
#include "runtime/text_stream.h"
#include "tests/console/console_output_capture.h"
#include "tests/console/console_probe_run.h"
#include "tests/support/terminal.h"

namespace zuva {
namespace {

using test::PtyProgram;
using test::shown;

// What is written to the stream reaches the terminal through the screen model.
TEST(ConsoleDriverTest, OutputSideWritesThroughTheConsole) {
    test::reset_console();
    test::OutputCapture out;
    TextStream stream;
    attach_console(stream);
    EXPECT_EQ(stream.mode, mode_closed);
    EXPECT_EQ(stream.handle, -1);

    open_for_writing(stream);
    EXPECT_EQ(io_result, 0);
    EXPECT_EQ(stream.mode, mode_output);
    EXPECT_EQ(stream.handle, -1);  // the caller sets it
    write_string(0, stream, "ab");
    write_end(stream);
    EXPECT_EQ(io_result, 0);
    EXPECT_EQ(out.bytes(), "ab");
    EXPECT_EQ(cursor_column, 3);
    EXPECT_EQ(stream.close_op(stream), 0);
    EXPECT_EQ(stream.mode, mode_closed);
    test::restore_console();
}

// Reading the stream takes what its descriptor brings; a flush keeps what is still unread.
TEST(ConsoleDriverTest, EveryOtherModeIsTheInputSide) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "hi\n", 3), 3);
    TextStream stream;
    attach_console(stream);
    stream.handle = ends[0];
    stream.mode = 12345;
    EXPECT_EQ(console_open(stream), 0);
    EXPECT_EQ(stream.mode, mode_input);
    EXPECT_EQ(stream.handle, ends[0]);
    EXPECT_EQ(stream.transfer_op(stream), 0);
    EXPECT_EQ(std::string(stream.buf_ptr, stream.buf_end), "hi\n");
    close(ends[0]);
    close(ends[1]);
    stream.buf_pos = 1;
    EXPECT_EQ(stream.flush_op(stream), 0);
    EXPECT_EQ(stream.buf_pos, 1);
    EXPECT_EQ(stream.close_op(stream), 0);
    EXPECT_EQ(stream.mode, mode_closed);

    attach_console(stream);
    open_for_reading(stream);
    EXPECT_EQ(io_result, 0);
    EXPECT_EQ(stream.mode, mode_input);
}

class ConsoleStartTest : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string report_path = dir.file("report");

    // Runs the probe on a terminal to its end; its output, report and wait status are kept.
    void run_on_terminal(PtyProgram& p, const std::string& action, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {test::startup_probe(), report_path, action};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(p.start(argv));
    }
    test::ProbeReport report() { return test::read_report(report_path); }
};

TEST_F(ConsoleStartTest, TerminalAnswerGivesTheCursorAndOnlyTheDefaultRenditionIsSent) {
    PtyProgram p;
    p.answer_queries = false;
    run_on_terminal(p, "end");
    ASSERT_TRUE(p.wait_for([&] { return p.output.find("\x1b[6n") != std::string::npos; }));
    p.type("\x1b[12;40R");
    int status = p.wait_exit();
    EXPECT_EQ(test::exit_shown(status), "exit status 0");
    // The query reaches the master because descriptors 0 and 1 are the same terminal.
    EXPECT_EQ(shown(p.output), shown("\x1b[6n\x1b[m"));
    test::ProbeReport r = report();
    EXPECT_EQ(r.column, 40);
    EXPECT_EQ(r.row, 12);
    EXPECT_EQ(r.output_redirected, 0);
    EXPECT_EQ(r.input_redirected, 0);
}

TEST_F(ConsoleStartTest, EmulatorAnswerAtHomeSendsNoMove) {
    PtyProgram p;
    run_on_terminal(p, "end");
    EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
    EXPECT_EQ(shown(p.output), shown("\x1b[6n\x1b[m"));
    test::ProbeReport r = report();
    EXPECT_EQ(r.column, 1);
    EXPECT_EQ(r.row, 1);
    EXPECT_EQ(r.width, 80);
    EXPECT_EQ(r.height, 25);
    EXPECT_EQ(r.cells, 80 * 25);
}

TEST_F(ConsoleStartTest, SilentTerminalCostsOneSecondAndTheCursorIsPutHome) {
    PtyProgram p;
    p.answer_queries = false;
    run_on_terminal(p, "end");
    EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
    EXPECT_EQ(shown(p.output), shown("\x1b[6n\x1b[H\x1b[m"));
    test::ProbeReport r = report();
    EXPECT_EQ(r.column, 1);
    EXPECT_EQ(r.row, 1);
    EXPECT_GE(r.start_ms, 950);
    EXPECT_LE(r.start_ms, 3000);
}

TEST_F(ConsoleStartTest, AnswerOffTheScreenIsNotTaken) {
    // Beyond the 80x25 screen, a row of 0, a malformed reply: the cursor goes home instead. The
    // bottom right corner itself is on the screen.
    for (std::string reply : {"\x1b[30;90R", "\x1b[0;5R", "\x1b[12;0R", "\x1b[12;40", "\x1b[25;80R"}) {
        const bool taken = reply == "\x1b[25;80R";
        std::remove(report_path.c_str());
        PtyProgram p;
        p.answer_queries = false;
        run_on_terminal(p, "end");
        ASSERT_TRUE(p.wait_for([&] { return p.output.find("\x1b[6n") != std::string::npos; }));
        p.type(reply);
        EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
        EXPECT_EQ(shown(p.output), shown(taken ? "\x1b[6n\x1b[m" : "\x1b[6n\x1b[H\x1b[m")) << "reply " << shown(reply);
        test::ProbeReport r = report();
        EXPECT_EQ(r.column, taken ? 80 : 1) << "reply " << shown(reply);
        EXPECT_EQ(r.row, taken ? 25 : 1) << "reply " << shown(reply);
    }
}

TEST_F(ConsoleStartTest, OutputToAFileGetsNothingAtStartOrExit) {
    std::string out_path = dir.file("out");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(out, 1);
        dup2(in, 0);
        std::string probe = test::startup_probe();
        execl(probe.c_str(), probe.c_str(), report_path.c_str(), "end", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(test::exit_shown(status), "exit status 0");
    EXPECT_EQ(shown(test::read_file(out_path)), "");
    test::ProbeReport r = report();
    EXPECT_EQ(r.width, 80);
    EXPECT_EQ(r.height, 25);
    EXPECT_EQ(r.column, 1);
    EXPECT_EQ(r.row, 1);
    EXPECT_EQ(r.output_redirected, 1);
    EXPECT_EQ(r.input_redirected, 1);
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.out_count, 0);
    EXPECT_EQ(r.cells_released, 1);
}

TEST_F(ConsoleStartTest, ScreenSizeComesFromTheTerminal) {
    PtyProgram p(132, 43);
    run_on_terminal(p, "end");
    EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
    test::ProbeReport r = report();
    EXPECT_EQ(r.width, 132);
    EXPECT_EQ(r.height, 43);
    EXPECT_EQ(r.cells, 132 * 43);
}

TEST_F(ConsoleStartTest, UnusableWindowSizesKeepTheModelInBounds) {
    {
        // A terminal that reports 0 x 0 counts as one that reports no size.
        PtyProgram p;
        run_on_terminal(p, "corner", {"0", "0"});
        EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
        test::ProbeReport r = report();
        EXPECT_EQ(r.width, 80);
        EXPECT_EQ(r.height, 25);
        EXPECT_EQ(r.cells, 80 * 25);
    }
    {
        std::remove(report_path.c_str());
        PtyProgram p;
        run_on_terminal(p, "corner", {"0", "40"});
        EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
        EXPECT_EQ(report().width, 80);
        EXPECT_EQ(report().height, 25);
    }
    {
        // Wider and taller than a byte can address: the model stops at 255.
        std::remove(report_path.c_str());
        PtyProgram p;
        run_on_terminal(p, "corner", {"300", "400"});
        EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
        test::ProbeReport r = report();
        EXPECT_EQ(r.width, 255);
        EXPECT_EQ(r.height, 255);
        EXPECT_EQ(r.cells, 255 * 255);
        // The bottom right corner takes one letter; the rest follows on a new bottom line.
        EXPECT_NE(p.output.find("\x1b[255;255HX\r\nYZ      end\r\n"), std::string::npos) << shown(p.output);
        EXPECT_EQ(r.cells_released, 1);
    }
}

TEST_F(ConsoleStartTest, EveryEndLeavesTheBufferEmptyAndTheCellsReleased) {
    {
        PtyProgram p;
        run_on_terminal(p, "wait");
        ASSERT_TRUE(p.wait_for_text("ready"));
        p.type("x");
        EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
        test::ProbeReport r = report();
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.out_count, 0);
        EXPECT_EQ(r.cells_released, 1);
    }
    {
        std::remove(report_path.c_str());
        PtyProgram p;
        run_on_terminal(p, "error");
        ASSERT_TRUE(p.wait_for_text("ready"));
        p.type("x");
        EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 2");
        test::ProbeReport r = report();
        EXPECT_TRUE(r.exited);
        EXPECT_EQ(r.out_count, 0);
        EXPECT_EQ(r.cells_released, 1);
        // The report follows the console's last byte on the restored terminal.
        EXPECT_NE(p.output.find("readyRuntime error 2 at 0x"), std::string::npos) << shown(p.output);
    }
}

TEST_F(ConsoleStartTest, DrawnScreenShowsOnTheTerminal) {
    PtyProgram p;
    run_on_terminal(p, "draw");
    ASSERT_TRUE(p.wait_for_text("red"));
    const test::VtScreen& vt = p.screen;
    EXPECT_EQ(vt.text(20, 9, 12), "+----------+") << vt.dump();
    EXPECT_EQ(vt.text(20, 10, 12), "|  Hello!  |") << vt.dump();
    EXPECT_EQ(vt.text(20, 11, 12), "+----------+") << vt.dump();
    for (int c = 20; c < 32; ++c)
        for (int r = 9; r <= 11; ++r) EXPECT_EQ(vt.attr(c, r), 0x70) << "column " << c << " row " << r;
    EXPECT_EQ(vt.attr(19, 10), 0x07);
    EXPECT_EQ(vt.attr(32, 10), 0x07);
    EXPECT_EQ(vt.text(1, 25, 7), "bottom ") << vt.dump();
    EXPECT_EQ(vt.attr(1, 25), 0x1E);
    EXPECT_EQ(vt.attr(6, 25), 0x1E);
    // Wrapped at the right edge by the console's own line break.
    EXPECT_EQ(vt.text(75, 3, 6), "wrappi") << vt.dump();
    EXPECT_EQ(vt.text(1, 4, 10), "ng overred") << vt.dump();
    EXPECT_EQ(vt.attr(7, 4), 0x07);
    EXPECT_EQ(vt.attr(8, 4), 0x0C);
    EXPECT_EQ(vt.cursor_column(), 11);
    EXPECT_EQ(vt.cursor_row(), 4);
    EXPECT_EQ(vt.row(1), std::string(80, ' '));
    p.type("x");
    EXPECT_EQ(test::exit_shown(p.wait_exit()), "exit status 0");
}

}  // namespace
}  // namespace zuva
