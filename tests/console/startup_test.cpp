// The console's start-up and exit: the stream driver it installs, and whole processes on
// pseudo-terminals and files: what is sent at start, the screen size, the cursor taken over
// from the terminal, and what is left at every end.
#include "console/startup.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <tuple>
#include <utility>

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

    // Starts the probe on the terminal with a report of its own.
    bool start(PtyProgram& p, const std::string& action, const std::vector<std::string>& extra = {}) {
        std::remove(report_path.c_str());
        std::vector<std::string> argv = {test::startup_probe(), report_path, action};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return p.start(argv);
    }
    // Waits for the probe's end, with the status given; its report.
    test::ProbeReport ended(PtyProgram& p, const std::string& status = "exit status 0") {
        EXPECT_EQ(test::exit_shown(p.wait_exit()), status);
        return test::read_report(report_path);
    }
    bool queried(PtyProgram& p) {
        return p.wait_for([&] { return p.output.find("\x1b[6n") != std::string::npos; });
    }
};

using Size = std::tuple<int, int, int>;       // width, height, cells
using Place = std::pair<int, int>;            // column, row
using Ending = std::tuple<bool, int, int>;    // exited, bytes left in the buffer, cells released
const Ending clean_end{true, 0, 1};

TEST_F(ConsoleStartTest, TerminalAnswerGivesTheCursorAndOnlyTheDefaultRenditionIsSent) {
    PtyProgram p;
    p.answer_queries = false;
    ASSERT_TRUE(start(p, "end") && queried(p));
    p.type("\x1b[12;40R");
    const test::ProbeReport r = ended(p);
    // The query reaches the master because descriptors 0 and 1 are the same terminal.
    EXPECT_EQ(shown(p.output), shown("\x1b[6n\x1b[m"));
    EXPECT_EQ(Place(r.column, r.row), Place(40, 12));
    EXPECT_EQ(r.output_redirected, 0);
    EXPECT_EQ(r.input_redirected, 0);
}

TEST_F(ConsoleStartTest, EmulatorAnswerAtHomeSendsNoMove) {
    PtyProgram p;
    ASSERT_TRUE(start(p, "end"));
    const test::ProbeReport r = ended(p);
    EXPECT_EQ(shown(p.output), shown("\x1b[6n\x1b[m"));
    EXPECT_EQ(Place(r.column, r.row), Place(1, 1));
    EXPECT_EQ(Size(r.width, r.height, r.cells), Size(80, 25, 80 * 25));
}

TEST_F(ConsoleStartTest, SilentTerminalCostsOneSecondAndTheCursorIsPutHome) {
    PtyProgram p;
    p.answer_queries = false;
    ASSERT_TRUE(start(p, "end"));
    const test::ProbeReport r = ended(p);
    EXPECT_EQ(shown(p.output), shown("\x1b[6n\x1b[H\x1b[m"));
    EXPECT_EQ(Place(r.column, r.row), Place(1, 1));
    EXPECT_GE(r.start_ms, 950);
    EXPECT_LE(r.start_ms, 3000);
}

TEST_F(ConsoleStartTest, AnswerOffTheScreenIsNotTaken) {
    // Beyond the 80x25 screen, a row of 0, a malformed reply: the cursor goes home instead. The
    // bottom right corner itself is on the screen.
    for (std::string reply : {"\x1b[30;90R", "\x1b[0;5R", "\x1b[12;0R", "\x1b[12;40", "\x1b[25;80R"}) {
        SCOPED_TRACE("reply " + shown(reply));
        const bool taken = reply == "\x1b[25;80R";
        PtyProgram p;
        p.answer_queries = false;
        ASSERT_TRUE(start(p, "end") && queried(p));
        p.type(reply);
        const test::ProbeReport r = ended(p);
        EXPECT_EQ(shown(p.output), shown(taken ? "\x1b[6n\x1b[m" : "\x1b[6n\x1b[H\x1b[m"));
        EXPECT_EQ(Place(r.column, r.row), taken ? Place(80, 25) : Place(1, 1));
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
    const test::ProbeReport r = test::read_report(report_path);
    EXPECT_EQ(Size(r.width, r.height, r.cells), Size(80, 25, 80 * 25));
    EXPECT_EQ(Place(r.column, r.row), Place(1, 1));
    EXPECT_EQ(r.output_redirected, 1);
    EXPECT_EQ(r.input_redirected, 1);
    EXPECT_EQ(Ending(r.exited, r.out_count, r.cells_released), clean_end);
}

TEST_F(ConsoleStartTest, ScreenSizeComesFromTheTerminal) {
    PtyProgram p(132, 43);
    ASSERT_TRUE(start(p, "end"));
    const test::ProbeReport r = ended(p);
    EXPECT_EQ(Size(r.width, r.height, r.cells), Size(132, 43, 132 * 43));
}

// A terminal that reports 0 x 0 counts as one that reports no size, as does one with a zero in
// either; wider and taller than a byte can address, the model stops at 255.
TEST_F(ConsoleStartTest, UnusableWindowSizesKeepTheModelInBounds) {
    for (const auto& [cols, rows, model] : {std::tuple{"0", "0", Size(80, 25, 80 * 25)},
                                            std::tuple{"0", "40", Size(80, 25, 80 * 25)},
                                            std::tuple{"300", "400", Size(255, 255, 255 * 255)}}) {
        SCOPED_TRACE(std::string(cols) + "x" + rows);
        PtyProgram p;
        ASSERT_TRUE(start(p, "corner", {cols, rows}));
        const test::ProbeReport r = ended(p);
        EXPECT_EQ(Size(r.width, r.height, r.cells), model);
        EXPECT_EQ(r.cells_released, 1);
        // The bottom right corner takes one letter; the rest follows on a new bottom line.
        EXPECT_TRUE(std::get<0>(model) != 255 || p.output.find("\x1b[255;255HX\r\nYZ      end\r\n") != std::string::npos)
            << shown(p.output);
    }
}

TEST_F(ConsoleStartTest, EveryEndLeavesTheBufferEmptyAndTheCellsReleased) {
    for (const auto& [action, status] : {std::pair{"wait", "exit status 0"}, std::pair{"error", "exit status 2"}}) {
        SCOPED_TRACE(action);
        PtyProgram p;
        ASSERT_TRUE(start(p, action) && p.wait_for_text("ready"));
        p.type("x");
        const test::ProbeReport r = ended(p, status);
        EXPECT_EQ(Ending(r.exited, r.out_count, r.cells_released), clean_end);
        // The report follows the console's last byte on the restored terminal.
        EXPECT_TRUE(std::string(action) != "error" || p.output.find("readyRuntime error 2 at 0x") != std::string::npos)
            << shown(p.output);
    }
}

TEST_F(ConsoleStartTest, DrawnScreenShowsOnTheTerminal) {
    PtyProgram p;
    ASSERT_TRUE(start(p, "draw") && p.wait_for_text("red"));
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
    EXPECT_EQ(vt.cursor(), std::pair(11, 4));
    EXPECT_EQ(vt.row(1), std::string(80, ' '));
    p.type("x");
    ended(p);
}

}  // namespace
}  // namespace zuva
