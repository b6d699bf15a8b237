// The generic stream operations over drivers whose refills and writes the tests control.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/process.h"
#include "runtime/text_stream.h"

namespace zuva {
const Module module_table[module_count] = {{nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};
}

using namespace zuva;

namespace {

// Input served in the pieces given, one piece per refill; output collected per transfer.
std::vector<std::string> pieces;
size_t next_piece = 0;
int transfers = 0;
std::vector<std::string> written;
int flushes = 0;

int piece_read(TextStream& s) {
    s.buf_pos = 0;
    s.buf_end = 0;
    ++transfers;
    if (next_piece < pieces.size()) {
        const std::string& p = pieces[next_piece++];
        p.copy(s.buf_ptr, p.size());
        s.buf_end = static_cast<int32_t>(p.size());
    }
    return 0;
}

int collect_write(TextStream& s) {
    ++transfers;
    written.emplace_back(s.buf_ptr, static_cast<size_t>(s.buf_pos));
    s.buf_pos = 0;
    return 0;
}

int count_flush(TextStream& s) {
    ++flushes;
    return collect_write(s);
}

int closes = 0;
int count_close(TextStream&) {
    ++closes;
    return 0;
}

int plain_open(TextStream& s) {
    s.close_op = count_close;
    return 0;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        io_result = 0;
        pieces.clear();
        next_piece = 0;
        transfers = 0;
        written.clear();
        flushes = 0;
        closes = 0;
    }
    void TearDown() override { io_result = 0; }

    // Streams are set up in place: a copied record would point at the original's buffer.
    void input(TextStream& s, std::vector<std::string> data) {
        pieces = std::move(data);
        next_piece = 0;
        bind_stream(s, bounded(""));
        s.open_op = plain_open;
        open_stream(s, mode_input);
        s.transfer_op = piece_read;
    }

    void output(TextStream& s) {
        bind_stream(s, bounded(""));
        s.open_op = plain_open;
        open_stream(s, mode_output);
        s.transfer_op = collect_write;
        s.flush_op = count_flush;
    }

    std::string all_written() {
        std::string out;
        for (auto& w : written) out += w;
        return out;
    }
};

std::string read_line(TextStream& s, uint8_t max = 255) {
    BoundedString line;
    line.max = max;
    read_string(s, line);
    read_line_end(s);
    return std::string(view(line));
}

}  // namespace

TEST_F(StreamTest, LinesSurviveRefillsAndEveryKindOfLineEnd) {
    // CR LF split by a refill is still one line end.
    TextStream a;
    input(a, {"abc\r", "\ndef\r\n"});
    EXPECT_EQ(read_line(a), "abc");
    EXPECT_TRUE(line_end_read);
    EXPECT_EQ(read_line(a), "def");
    EXPECT_TRUE(at_end_of_file(a));

    // A lone CR ends a line; a last line without a line end is read whole.
    TextStream b;
    input(b, {"abc\rdef"});
    EXPECT_EQ(read_line(b), "abc");
    EXPECT_EQ(read_line(b), "def");
    EXPECT_FALSE(line_end_read);
    EXPECT_TRUE(at_end_of_file(b));
    EXPECT_EQ(io_result, 0);
}

TEST_F(StreamTest, LongLinesAreCutAndTheRestSkippedAcrossRefills) {
    std::string long_line(300, 'x');
    long_line[254] = 'y';
    long_line[255] = 'z';
    TextStream s;
    input(s, {long_line.substr(0, 256), long_line.substr(256) + "\nnext\n"});
    std::string first = read_line(s);
    ASSERT_EQ(first.size(), 255u);
    EXPECT_EQ(first.back(), 'y');
    EXPECT_EQ(read_line(s), "next");

    TextStream t;
    input(t, {"0123456789\nabc\n"});
    EXPECT_EQ(read_line(t, 5), "01234");
    EXPECT_EQ(read_line(t, 5), "abc");
}

TEST_F(StreamTest, EmptyDataIsEndOfFileAtOnce) {
    TextStream s;
    input(s, {});
    EXPECT_TRUE(at_end_of_file(s));
    EXPECT_EQ(read_line(s), "");
    EXPECT_FALSE(line_end_read);
    EXPECT_EQ(io_result, 0);
}

TEST_F(StreamTest, ReadStringNeverExceedsTheDestinationsMaximum) {
    TextStream s;
    input(s, {"abcdefgh\n"});
    BoundedString answer = bounded("", 5);
    read_string(s, answer, 255);
    EXPECT_EQ(view(answer), "abcde");
}

TEST_F(StreamTest, FieldWidthsPadOnTheLeftOnly) {
    TextStream s;
    output(s);
    write_string(0, s, "");
    EXPECT_EQ(s.buf_pos, 0);
    write_string(3, s, "a");
    write_string(3, s, "abcde");
    write_string(-4, s, "z");
    write_char(0, s, 'p');
    write_char(1, s, 'q');
    write_char(4, s, 'r');
    write_integer(0, s, -2147483647 - 1);
    write_integer(4, s, 42);
    write_line_end(s);
    EXPECT_EQ(all_written(), "  aabcdezpq   r-2147483648  42\n");
    EXPECT_EQ(flushes, 1);
}

TEST_F(StreamTest, PutBytesFillsTheBufferBeforeEachTransfer) {
    TextStream s;
    output(s);
    std::string first(200, 'a'), second(100, 'b');
    put_bytes(s, first.data(), 200);
    EXPECT_EQ(transfers, 0);
    put_bytes(s, second.data(), 100);
    ASSERT_EQ(transfers, 1);
    EXPECT_EQ(written[0], first + std::string(56, 'b'));
    EXPECT_EQ(s.buf_pos, 44);

    // write_char never stores into the last free byte.
    TextStream c;
    output(c);
    for (int i = 0; i < 256; ++i) write_char(0, c, 'x');
    EXPECT_EQ(transfers, 2);
    EXPECT_EQ(written.back().size(), 255u);
    EXPECT_EQ(c.buf_pos, 1);
}

// The error number an operation leaves, taken back so that the next one runs.
template <typename Operation>
int result_of(Operation operation) {
    operation();
    const int result = io_result;
    io_result = 0;
    return result;
}

TEST_F(StreamTest, WrongModesGiveTheirNumbers) {
    TextStream in;
    input(in, {"x\n"});
    TextStream out;
    output(out);
    BoundedString dest = bounded("keep");

    EXPECT_EQ(result_of([&] { write_string(0, in, "x"); }), 105);
    EXPECT_EQ(result_of([&] { write_char(0, in, 'x'); }), 105);
    EXPECT_EQ(result_of([&] { write_line_end(in); }), 105);

    EXPECT_EQ(result_of([&] { read_string(out, dest); }), 104);
    EXPECT_EQ(dest.length, 0);
    EXPECT_EQ(result_of([&] { read_line_end(out); }), 104);
    EXPECT_EQ(result_of([&] { EXPECT_TRUE(at_end_of_file(out)); }), 104);

    TextStream closed;
    bind_stream(closed, bounded("nothing"));
    EXPECT_EQ(result_of([&] { write_char(0, closed, 'x'); }), 103);
    EXPECT_EQ(result_of([&] { close_stream(closed); }), 103);

    TextStream never_bound;
    never_bound.mode = 0;
    EXPECT_EQ(result_of([&] { open_stream(never_bound, mode_input); }), 102);
}

TEST_F(StreamTest, NothingHappensWhileAFailureIsPending) {
    TextStream in;
    input(in, {"line\n"});
    TextStream out;
    output(out);
    io_result = 2;
    BoundedString dest = bounded("old");
    read_string(in, dest);
    EXPECT_EQ(dest.length, 0);
    EXPECT_TRUE(at_end_of_file(in));
    EXPECT_EQ(transfers, 0);
    write_string(0, out, "x");
    write_line_end(out);
    EXPECT_EQ(out.buf_pos, 0);
    write_end(out);  // still flushes
    EXPECT_EQ(flushes, 1);
    EXPECT_EQ(io_result, 2);
}

TEST_F(StreamTest, CloseWritesWhatWaitsAndReopensFromScratch) {
    TextStream out;
    output(out);
    write_string(0, out, "tail");
    close_stream(out);
    EXPECT_EQ(all_written(), "tail");
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(out.mode, mode_closed);
    open_stream(out, mode_output);
    EXPECT_EQ(out.mode, mode_output);
    EXPECT_EQ(out.buf_pos, 0);
}

TEST(BoundedStringTest, AssignmentAppendAndEquality) {
    BoundedString answer = bounded("", 5);
    assign(answer, "nnnnnn");
    EXPECT_EQ(view(answer), "nnnnn");
    EXPECT_FALSE(answer == bounded("n"));
    EXPECT_TRUE(bounded("n") == bounded("n", 5));
    EXPECT_FALSE(bounded("N") == bounded("n"));
    EXPECT_FALSE(bounded("n ") == bounded("n"));

    // The mount command: appending keeps what still fits into 255.
    BoundedString command = bounded("mount ");
    append(command, std::string(249, 'd'));
    append(command, " /cdrom");
    EXPECT_EQ(command.length, 255);
    EXPECT_EQ(view(command).substr(0, 6), "mount ");
    EXPECT_EQ(view(command).back(), 'd');

    BoundedString c2 = bounded("mount ");
    append(c2, std::string(243, 'd'));
    append(c2, " /cdrom");
    EXPECT_EQ(view(c2).substr(249), " /cdro");
}
