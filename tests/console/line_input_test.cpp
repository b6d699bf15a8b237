// The console's line editor: what each key stores and echoes, full buffers, lines read through
// the stream operations, the plain read of a pipe, and the end of input.
#include "console/line_input.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/keyboard.h"
#include "console/raw_terminal.h"
#include "console/screen_output.h"
#include "runtime/process.h"
#include "runtime/text_stream.h"
#include "tests/console/keyboard_pty.h"
#include "tests/support/terminal.h"

// The echo's check_io belongs to the process frame, which needs a module table.
const zuva::Module zuva::module_table[zuva::module_count] = {
    {nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};

namespace zuva {
namespace {

using namespace std::literals;
using Clock = std::chrono::steady_clock;
using test::ms_since;
using Echoes = std::vector<std::string>;

// Every write statement on std_output, one entry per flush.
Echoes echoes;

int capture_output(TextStream& stream) {
    echoes.emplace_back(stream.buf_ptr, static_cast<size_t>(stream.buf_pos));
    stream.buf_pos = 0;
    return 0;
}

void make_stream(TextStream& stream, int handle, int mode = mode_input, DriverOp transfer = console_read) {
    stream = TextStream{};
    stream.handle = handle;
    stream.mode = mode;
    stream.buf_size = stream_buffer_size;
    stream.buf_ptr = stream.buffer;
    stream.transfer_op = transfer;
}

class LineInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        pty.open();
        make_stream(input, pty.slave);
        saved_output = std_output;
        make_stream(std_output, 1, mode_output, capture_output);
        std_output.flush_op = capture_output;
        echoes.clear();
        io_result = 0;
        input_ended = input_interrupted = false;
        input_redirected = false;
        output_redirected = false;
    }

    void TearDown() override {
        pty.close_all();
        std_output = saved_output;
        std_output.buf_ptr = std_output.buffer;
        input_ended = input_interrupted = false;
    }

    std::string stored() const { return {input.buf_ptr, static_cast<size_t>(input.buf_end)}; }

    // Types the keys, then takes one line from the editor.
    std::string line_after(std::string_view typed) {
        pty.type(typed);
        console_read(input);
        EXPECT_EQ(input.buf_pos, 0);
        return stored();
    }

    // One line from the typed keys: what it stores, and what each key echoed.
    void expect_line(std::string_view typed, std::string_view line, const Echoes& echoed) {
        SCOPED_TRACE("typed: " + testing::PrintToString(std::string(typed)));
        echoes.clear();
        EXPECT_EQ(line_after(typed), line);
        EXPECT_EQ(echoes, echoed);
    }

    test::KeyboardPty pty;
    TextStream input;
    TextStream saved_output;
};

TEST_F(LineInputTest, EnterEndsTheLineWithALineFeed) {
    expect_line("s\r", "s\n", {"s", "\n"});
    EXPECT_EQ(input.buf_end, 2);
    expect_line("\r", "\n", {"\n"});
    expect_line("ab\n", "ab\n", {"a", "b", "\n"});  // Ctrl+J
}

TEST_F(LineInputTest, LineEndsAtTheFirstEnterAndTheRestWaits) {
    pty.type("one\rtwo\r");
    console_read(input);
    EXPECT_EQ(stored(), "one\n");
    console_read(input);
    EXPECT_EQ(stored(), "two\n");
}

TEST_F(LineInputTest, BackspaceErasesOnlyWhatThisCallStored) {
    expect_line("ab\x7f" "c\r", "ac\n", {"a", "b", "\b \b", "c", "\n"});
    expect_line("ab\x08" "c\r", "ac\n", {"a", "b", "\b \b", "c", "\n"});  // Ctrl+H erases like Backspace
    expect_line("\x7f\x08x\x7f\x7fy\r", "y\n", {"x", "\b \b", "y", "\n"});
}

TEST_F(LineInputTest, ControlKeysAndHighBytesAreStoredLikeLetters) {
    expect_line("\x1a\x04\t\x01\x1c\x1f\r", "\x1a\x04\t\x01\x1c\x1f\n", {"\x1a", "\x04", "\t", "\x01", "\x1c", "\x1f", "\n"});
    expect_line("\xe9\x80\xff\r", "\xe9\x80\xff\n", {"\xe9", "\x80", "\xff", "\n"});
}

// Ctrl+C ends the input at once and throws the line away, even right after a NUL whose next key
// is otherwise dropped; Ctrl+D ends it only on an empty answer, not one continued past a full buffer.
TEST_F(LineInputTest, CtrlCAndCtrlDOnAnEmptyAnswerEndTheInput) {
    for (std::string_view typed : {"ab\x03"sv, "\x03"sv, "x\0\x03"sv}) {
        SCOPED_TRACE(testing::PrintToString(std::string(typed)));
        input_ended = input_interrupted = false;
        EXPECT_EQ(line_after(typed), "");
        EXPECT_TRUE(input_ended);
        EXPECT_TRUE(input_interrupted);
        EXPECT_EQ(std::count(echoes.begin(), echoes.end(), "\x03"), 0);
        pty.close_all();
        pty.open();
        make_stream(input, pty.slave);
    }
    input_ended = input_interrupted = false;
    EXPECT_EQ(line_after("\x7f\x04"), "");
    EXPECT_TRUE(input_ended);
    EXPECT_FALSE(input_interrupted);

    input_ended = false;
    pty.type(std::string(256, 'd') + "\x04\r");
    console_read(input);
    EXPECT_EQ(input.buf_end, 256);
    EXPECT_EQ(line_after(""), "\x04\n");
    EXPECT_FALSE(input_ended);
}

TEST_F(LineInputTest, SpecialKeysStoreAndShowNothing) {
    expect_line("a\x1b[A\x1bOD\x1b[[A\x1b[5~\x1b[34~\x1bx\x1b=b\x1b[G\r", "ab5\n", {"a", "b", "5", "\n"});
}

// An ESC with nothing within 10 ms after it is a key of its own, and ignored; a byte within them
// makes it an Alt key, which stores nothing.
TEST_F(LineInputTest, EscapeAloneIsIgnored) {
    for (const auto& [x_at, line] : {std::pair{60, "ab\n"}, {5, "ab\n"}, {11, "axb\n"}}) {
        echoes.clear();
        test::ScriptedKeyboard keys({{0, "a\x1b"}, {x_at, x_at < 60 ? "x" : ""}, {60, "b\r"}});
        console_read(input);
        EXPECT_EQ(stored(), line) << "x at " << x_at << " ms";
        EXPECT_EQ(echoes.size(), std::string(line).size());
        EXPECT_EQ(keys.now_ms, 60);
    }
}

TEST_F(LineInputTest, EscapeThenEnterEndsTheLineAndTheEscapeIsIgnoredNextTime) {
    EXPECT_EQ(line_after("x\x1b\r"), "x\n");
    EXPECT_FALSE(test::queue_empty());  // the 27 waits behind the 13
    EXPECT_EQ(line_after("y\r"), "y\n");
    EXPECT_EQ(echoes, (Echoes{"x", "\n", "y", "\n"}));
}

TEST_F(LineInputTest, NulTakesTheNextKeyAsItsCode) {
    expect_line("ab\0\r"sv, "ab", {"a", "b"});  // the Enter was taken as a code: no line end
    expect_line("\0\r"sv, "", {});

    // A sequence that queues nothing has the same effect on the key after it.
    EXPECT_EQ(line_after("\x1bOPzq\r"sv), "q\n");
}

TEST_F(LineInputTest, FullBufferReturnsWithoutLineEnd) {
    std::string typed(300, 'd');
    for (int i = 0; i < 300; ++i) typed[i] = static_cast<char>('a' + i % 26);
    pty.type(typed + "\r");
    console_read(input);
    EXPECT_EQ(input.buf_end, 256);
    EXPECT_EQ(stored(), typed.substr(0, 256));
    EXPECT_EQ(echoes.size(), 256u);

    console_read(input);
    EXPECT_EQ(stored(), typed.substr(256) + "\n");

    // After a full buffer Backspace cannot reach back into it.
    echoes.clear();
    pty.type(std::string(256, 'x') + "\x7f\x7fyz\r");
    console_read(input);
    EXPECT_EQ(input.buf_end, 256);
    console_read(input);
    EXPECT_EQ(stored(), "yz\n");
    EXPECT_EQ(echoes.back(), "\n");
    EXPECT_EQ(std::count(echoes.begin(), echoes.end(), "\b \b"), 0);
}

TEST_F(LineInputTest, LongLineReadIntoBoundedStringsKeepsWhatFits) {
    std::string typed(300, ' ');
    for (int i = 0; i < 300; ++i) typed[i] = static_cast<char>('a' + i % 26);
    pty.type(typed + "\r" + "abcdefgh\r" + "next\r");

    BoundedString device_name = bounded("", 255);
    read_string(input, device_name);
    read_line_end(input);
    EXPECT_EQ(io_result, 0);
    EXPECT_EQ(view(device_name), typed.substr(0, 255));
    EXPECT_TRUE(line_end_read);

    BoundedString answer = bounded("", 5);
    read_string(input, answer);
    read_line_end(input);
    EXPECT_EQ(view(answer), "abcde");

    read_string(input, answer);
    read_line_end(input);
    EXPECT_EQ(view(answer), "next");
    EXPECT_FALSE(input_ended);
}

TEST_F(LineInputTest, NoEchoWhenInputOrOutputIsRedirected) {
    input_redirected = true;
    EXPECT_EQ(line_after("ab\x7f" "c\r"), "ac\n");
    input_redirected = false;
    output_redirected = true;
    EXPECT_EQ(line_after("\x01z\r"), "\x01z\n");
    EXPECT_TRUE(echoes.empty());
}

TEST_F(LineInputTest, HangUpWhileWaitingReturnsWhatWasTyped) {
    test::ScriptedKeyboard keys({{0, "ab"}, {80, "", true}});
    console_read(input);
    EXPECT_EQ(stored(), "ab");
    EXPECT_TRUE(input_ended);
    EXPECT_EQ(keys.endless_waits, 0);

    // Later calls return at once with nothing, reading no more.
    const int calls = keys.calls;
    for (int i = 0; i < 100; ++i) {
        console_read(input);
        ASSERT_EQ(input.buf_end, 0);
        ASSERT_EQ(input.buf_pos, 0);
    }
    EXPECT_EQ(keys.calls, calls);

    // A read statement sees the end of the data.
    BoundedString answer = bounded("", 5);
    read_string(input, answer);
    read_line_end(input);
    EXPECT_EQ(answer.length, 0);
    EXPECT_FALSE(line_end_read);
}

TEST_F(LineInputTest, HangUpAfterAnEscapeOrANulEndsTheLine) {
    for (std::string_view typed : {"q\x1b"sv, "q\0"sv}) {
        input_ended = false;
        test::reset_keyboard(-1);
        test::ScriptedKeyboard keys({{0, std::string(typed)}, {80, "", true}});
        console_read(input);
        EXPECT_EQ(stored(), "q") << testing::PrintToString(std::string(typed));
        EXPECT_TRUE(input_ended);
        EXPECT_EQ(keys.endless_waits, 0);
    }
}

class PlainInputTest : public LineInputTest {
protected:
    void SetUp() override {
        LineInputTest::SetUp();
        ASSERT_EQ(pipe(ends), 0);
        make_stream(input, ends[0]);
        input_redirected = true;  // start-up says so whenever descriptor 0 is no terminal
    }
    void TearDown() override {
        close(ends[0]);
        if (ends[1] >= 0) close(ends[1]);
        LineInputTest::TearDown();
    }

    std::string read_after(std::string_view sent) {
        EXPECT_EQ(write(ends[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
        console_read(input);
        EXPECT_EQ(input.buf_pos, 0);
        return stored();
    }

    int ends[2] = {-1, -1};
};

TEST_F(PlainInputTest, LoneCarriageReturnBecomesLineFeed) {
    EXPECT_EQ(read_after("one\rtwo\r\nthree\rx"), "one\ntwo\r\nthree\nx");
    EXPECT_EQ(read_after("\r\r\n"), "\n\r\n");
    // A CR that ends the read is a line end: an LF at the start of the next read is its pair,
    // another CR a line end of its own.
    EXPECT_EQ(read_after("four\r"), "four\n");
    EXPECT_EQ(read_after("\nfive\r"), "five\n");
    EXPECT_EQ(read_after("\rsix\r"), "\nsix\n");
    EXPECT_TRUE(echoes.empty());
    EXPECT_FALSE(input_ended);
}

TEST_F(PlainInputTest, LinesSplitAtACarriageReturnReadAsOneLineEnd) {
    std::string first(255, 'p');
    ASSERT_EQ(write(ends[1], (first + "\r").data(), 256), 256);
    BoundedString name = bounded("", 255);
    read_string(input, name);
    ASSERT_EQ(write(ends[1], "\nnext\n", 6), 6);
    read_line_end(input);
    read_string(input, name);
    EXPECT_EQ(view(name), "next");
}

TEST_F(PlainInputTest, EndOfThePipeSetsInputEnded) {
    EXPECT_EQ(read_after("last"), "last");
    EXPECT_FALSE(input_ended);
    close(ends[1]);
    ends[1] = -1;
    console_read(input);
    EXPECT_EQ(input.buf_end, 0);
    EXPECT_TRUE(input_ended);
    console_read(input);
    EXPECT_EQ(input.buf_end, 0);
}

TEST_F(PlainInputTest, FailedReadCountsAsEnd) {
    input.handle = 1000;  // no such descriptor
    console_read(input);
    EXPECT_EQ(input.buf_end, 0);
    EXPECT_EQ(input.buf_pos, 0);
    EXPECT_TRUE(input_ended);
    EXPECT_EQ(io_result, 0);
}

TEST(LineEditorProgram, EchoesOnTheScreenAndEndsWithinASecondOfAHangUp) {
    test::TempDir dir;
    std::string record = dir.file("answers");
    test::PtyProgram program;
    ASSERT_TRUE(program.start({std::string(ZUVA_PROBE_DIR) + "/keyboard_lines_probe", record}));
    // Keys typed before the console has read its cursor report would go with the report.
    ASSERT_TRUE(program.wait_for([&] { return program.output.find("\x1b[6n") != std::string::npos; }));
    ASSERT_TRUE(test::comes_to_wait_for_input(program.pid)) << "no wait for a key after the report";
    program.type("abc\x7f" "d\r");
    ASSERT_TRUE(program.wait_for([&] { return test::read_file(record) == "line:abd\n"; }))
        << test::read_file(record);
    ASSERT_TRUE(program.wait_for([&] { return program.screen.cursor_row() == 2; })) << program.screen.dump();
    EXPECT_EQ(program.screen.text(1, 1, 4), "abd ") << program.screen.dump();
    EXPECT_EQ(program.screen.cursor_column(), 1);

    // Waiting for the next answer costs no processor time: the wait has no timer.
    EXPECT_TRUE(test::comes_to_wait_for_input(program.pid));

    program.hang_up();
    const auto start = Clock::now();
    int status = program.wait_exit(5000);
    EXPECT_LT(ms_since(start), 1000);
    EXPECT_EQ(test::exit_shown(status), "exit status 0");
    EXPECT_EQ(test::read_file(record), "line:abd\nended\n");
}

}  // namespace
}  // namespace zuva
