// The screen model and its output: shortest cursor moves, wrapping, control bytes, escape
// sequences written as text, redirected output, and how many writes an operation costs.
#include "console/screen_output.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/colours.h"
#include "tests/console/console_output_capture.h"

namespace zuva {
namespace {

using Writes = std::vector<std::string>;

class ScreenOutputTest : public ::testing::Test {
protected:
    void SetUp() override { test::reset_console(); }
    void TearDown() override { test::restore_console(); }

    // One write statement of std_output: the bytes reach console_write through the stream buffer.
    void write_statement(std::string_view text) {
        TextStream stream;
        stream.mode = mode_output;
        stream.buf_size = stream_buffer_size;
        stream.buf_ptr = stream.buffer;
        text.copy(stream.buffer, text.size());
        stream.buf_pos = static_cast<int32_t>(text.size());
        EXPECT_EQ(console_write(stream), 0);
        EXPECT_EQ(stream.buf_pos, 0);
    }

    // The writes one write statement makes.
    Writes written(std::string_view text) {
        write_statement(text);
        return out.writes();
    }
    static std::pair<int, int> cursor() { return {cursor_column, cursor_row}; }
    static void place(uint8_t column, uint8_t row) { cursor_column = column, cursor_row = row; }

    test::OutputCapture out;
};

TEST_F(ScreenOutputTest, MoveSequenceTakesTheShortestForm) {
    struct Case {
        int x, y, old_x, old_y;
        std::string text;
    };
    const Case cases[] = {
        {9, 3, 9, 3, ""},          {1, 3, 9, 3, "\r"},          {12, 3, 9, 3, "\x1b[3C"},
        {4, 3, 9, 3, "\x1b[5D"},   {9, 5, 9, 3, "\x1b[2B"},     {9, 1, 9, 3, "\x1b[2A"},
        {1, 4, 9, 3, "\r\n"},      {1, 4, 1, 3, "\x1b[1B"},     {18, 10, 1, 1, "\x1b[10;18H"},
        {1, 2, 1, 3, "\x1b[1A"},   {1, 5, 9, 3, "\x1b[5;1H"},   {200, 120, 1, 1, "\x1b[120;200H"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(view(move_sequence(c.x, c.y, c.old_x, c.old_y)), c.text)
            << "from (" << c.old_x << "," << c.old_y << ") to (" << c.x << "," << c.y << ")";
}

TEST_F(ScreenOutputTest, GotoXySendsEachMoveInOneWrite) {
    struct Case {
        uint8_t x, y;
        std::string text;
    };
    const Case cases[] = {{1, 3, "\r"},      {12, 3, "\x1b[3C"}, {4, 3, "\x1b[5D"},
                          {9, 5, "\x1b[2B"}, {9, 1, "\x1b[2A"},  {1, 4, "\r\n"}};
    for (const Case& c : cases) {
        place(9, 3);
        goto_xy(c.x, c.y);
        EXPECT_EQ(out.writes(), Writes{c.text}) << "to (" << int(c.x) << "," << int(c.y) << ")";
        EXPECT_EQ(cursor_column, c.x);
        EXPECT_EQ(cursor_row, c.y);
    }
    goto_xy(1, 1);
    out.writes();
    goto_xy(18, 10);
    EXPECT_EQ(out.writes(), Writes{"\x1b[10;18H"});
}

TEST_F(ScreenOutputTest, GotoXyIgnoresTheCurrentPlaceAndPlacesOffTheScreen) {
    place(9, 3);
    goto_xy(9, 3);
    goto_xy(0, 5);
    goto_xy(5, 0);
    goto_xy(81, 5);
    goto_xy(5, 26);
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(cursor(), std::pair(9, 3));
    goto_xy(80, 25);
    EXPECT_EQ(out.writes(), Writes{"\x1b[25;80H"});
}

TEST_F(ScreenOutputTest, LongTextWrapsAtTheRightEdge) {
    cursor_row = 5;
    EXPECT_EQ(written(std::string(100, 'a')), Writes{std::string(80, 'a') + "\r\n" + std::string(20, 'a')});
    EXPECT_EQ(cursor(), std::pair(21, 6));
    EXPECT_EQ(test::cell(80, 5).first, 'a');
    EXPECT_EQ(test::cell(20, 6).first, 'a');
    EXPECT_EQ(test::cell(21, 6).first, 0);
}

TEST_F(ScreenOutputTest, TextEndingInTheLastColumnGetsNoLineBreak) {
    cursor_row = 5;
    write_statement(std::string(80, 'b'));
    EXPECT_EQ(out.bytes(), std::string(80, 'b'));
    EXPECT_EQ(cursor(), std::pair(80, 5));
    EXPECT_EQ(written("\n"), Writes{"\r\n"});
    EXPECT_EQ(cursor(), std::pair(1, 6));
}

TEST_F(ScreenOutputTest, LineFeedMovesDownOrScrollsAtTheBottom) {
    place(7, 25);
    EXPECT_EQ(written("\n"), Writes{"\r\n"});
    EXPECT_EQ(cursor(), std::pair(1, 25));
    EXPECT_EQ(written("\n"), Writes{"\r\n"});
    EXPECT_EQ(cursor_row, 25);

    place(1, 3);
    EXPECT_EQ(written("\n"), Writes{"\x1b[1B"});
    EXPECT_EQ(cursor_row, 4);
    EXPECT_EQ(written("ab\n"), Writes{"ab\r\n"});
    EXPECT_EQ(cursor_row, 5);
}

TEST_F(ScreenOutputTest, ControlBytesMoveTheTrackedCursor) {
    // CR in column 1 sends nothing at all.
    write_statement("\r");
    EXPECT_TRUE(out.writes().empty());
    // BS in column 1 goes out and stays there.
    EXPECT_EQ(written("\b"), Writes{"\b"});
    EXPECT_EQ(cursor_column, 1);
    EXPECT_EQ(written("abc\b\bX"), Writes{"abc\b\bX"});
    EXPECT_EQ(cursor_column, 3);
    EXPECT_EQ(test::cell(2, 1).first, 'X');
    EXPECT_EQ(written("\r"), Writes{"\r"});
    EXPECT_EQ(cursor_column, 1);
    // BEL is text to the console: sent, and the tracked column moves on.
    EXPECT_EQ(written("\a"), Writes{"\a"});
    EXPECT_EQ(cursor_column, 2);
}

TEST_F(ScreenOutputTest, TabFillsToTheNextStopWithTrackedSpaces) {
    text_attr = sent_attr = 0x1E;
    write_statement("\tx\ty");
    EXPECT_EQ(out.bytes(), std::string(8, ' ') + "x" + std::string(7, ' ') + "y");
    EXPECT_EQ(cursor_column, 18);
    EXPECT_EQ(test::cell(1, 1), std::make_pair(' ', uint8_t(0x1E)));
    EXPECT_EQ(test::cell(16, 1), std::make_pair(' ', uint8_t(0x1E)));
    EXPECT_EQ(test::cell(17, 1).first, 'y');
}

TEST_F(ScreenOutputTest, TextIsStoredInTheCellsWithItsColour) {
    goto_xy(10, 4);
    text_attr = 0x70;
    write_statement("Ok");
    EXPECT_EQ(test::cell(10, 4), std::make_pair('O', uint8_t(0x70)));
    EXPECT_EQ(test::cell(11, 4), std::make_pair('k', uint8_t(0x70)));
    EXPECT_EQ(test::cell(12, 4).first, 0);
}

TEST_F(ScreenOutputTest, ClearScreenHomesAndFillsTheCellsInTheCurrentColour) {
    goto_xy(5, 5);
    out.writes();
    text_attr = 0x17;
    clear_screen();
    // The colour reaches the terminal before the erase, in the same write.
    EXPECT_EQ(out.writes(), Writes{"\x1b[0;44m\x1b[H\x1b[2J"});
    EXPECT_EQ(cursor(), std::pair(1, 1));
    EXPECT_EQ(test::cell(1, 1), std::make_pair(' ', uint8_t(0x17)));
    EXPECT_EQ(test::cell(80, 25), std::make_pair(' ', uint8_t(0x17)));
}

TEST_F(ScreenOutputTest, ClearingSequencesWrittenAsTextAreCarriedOut) {
    goto_xy(5, 5);
    out.writes();
    EXPECT_EQ(written("\x1b[2J"), Writes{"\x1b[H\x1b[2J"});
    EXPECT_EQ(cursor_column, 1);
    EXPECT_EQ(test::cell(40, 12).first, ' ');

    EXPECT_EQ(written("ab\x1b[K"), Writes{"ab\x1b[K"});
    EXPECT_EQ(cursor_column, 3);
    EXPECT_EQ(test::cell(3, 1).first, ' ');

    // ESC[J and ESC[1J clear nothing.
    write_statement("\x1b[J\x1b[1J");
    EXPECT_TRUE(out.writes().empty());
}

TEST_F(ScreenOutputTest, CursorSequencesWrittenAsTextMoveWithinTheScreen) {
    place(10, 10);
    EXPECT_EQ(written("\x1b[3A"), Writes{"\x1b[3A"});
    EXPECT_EQ(cursor_row, 7);
    EXPECT_EQ(written("\x1b[50A\x1b[B\x1b[0C\x1b[99D"), Writes{"\x1b[6A\x1b[1B\x1b[1C\r"});
    EXPECT_EQ(cursor(), std::pair(1, 2));
    write_statement("\x1b[200C\x1b[30B");
    EXPECT_EQ(cursor(), std::pair(80, 25));
    out.writes();
    EXPECT_EQ(written("\x1b[H"), Writes{"\x1b[1;1H"});
    // A parameter is taken modulo 256: column 300 is column 44.
    write_statement("\x1b[5;300H");
    EXPECT_EQ(cursor(), std::pair(44, 5));
    // Row 90 is off an 25-row screen: ignored.
    out.writes();
    write_statement("\x1b[90;3H");
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(cursor_column, 44);
}

TEST_F(ScreenOutputTest, UnknownSequencesGoOutAsText) {
    EXPECT_EQ(written("\x1b(B"), Writes{"\x1b(B"});
    EXPECT_EQ(cursor_column, 4);
    EXPECT_EQ(written("\x1b[5x!"), Writes{"\x1b[5x!"});
    EXPECT_EQ(cursor_column, 9);
    EXPECT_FALSE(escape_pending);
    EXPECT_EQ(escape_text.length, 0);
    // A known sequence right after an unknown one is still carried out.
    EXPECT_EQ(written("\x1bQ\x1b[2D"), Writes{"\x1bQ\x1b[2D"});
    EXPECT_EQ(cursor_column, 9);
}

TEST_F(ScreenOutputTest, ModeSequencesAreSwallowed) {
    write_statement("\x1b[?25h");
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(cursor_column, 1);
    EXPECT_EQ(written("a\x1b[?7hb"), Writes{"ab"});
}

TEST_F(ScreenOutputTest, SequenceSplitAcrossWritesIsCompleted) {
    cursor_column = 5;
    write_statement("\x1b[1");
    EXPECT_TRUE(escape_pending);
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(written("0;5H"), Writes{"\x1b[9B"});
    EXPECT_EQ(cursor(), std::pair(5, 10));
    EXPECT_FALSE(escape_pending);
    for (int c = 1; c <= 80; ++c) EXPECT_EQ(test::cell(c, 1).first, 0) << "column " << c;
}

TEST_F(ScreenOutputTest, SequenceSplitBetweenChunksOfOneWriteIsCompleted) {
    // 249 letters and ESC[12;5H make 256 bytes: the first chunk of 255 ends inside the sequence.
    write_statement(std::string(249, 'x') + "\x1b[12;5H");
    Writes writes = out.writes();
    ASSERT_EQ(writes.size(), 1u);
    std::string row(80, 'x');
    EXPECT_EQ(writes[0], row + "\r\n" + row + "\r\n" + row + "\r\n" + std::string(9, 'x') + "\x1b[12;5H");
    EXPECT_EQ(cursor(), std::pair(5, 12));
}

TEST_F(ScreenOutputTest, RedirectedOutputHasTextAndLineFeedsOnly) {
    output_redirected = true;
    goto_xy(30, 1);
    write_statement("Title");
    goto_xy(10, 2);
    write_statement("first");
    goto_xy(10, 3);
    write_statement("second");
    goto_xy(40, 3);
    goto_xy(1, 10);
    text_attr = 0x70;
    clear_to_eol();
    write_statement("\x1b[K" + std::string(100, 'z'));
    EXPECT_EQ(out.bytes(), "Title\nfirst\nsecond" + std::string(100, 'z'));
    EXPECT_EQ(sent_attr, 0x70);
    EXPECT_EQ(cursor_column, 80);

    goto_xy(1, 24);
    goto_xy(1, 25);
    write_statement("last\nmore\n");
    EXPECT_EQ(out.bytes(), "\nlast\r\nmore\r\n");
    clear_screen();
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(cursor_row, 1);
}

TEST_F(ScreenOutputTest, OutputOverTheBufferGoesInPiecesWithNothingLost) {
    set_auto_flush(false);
    std::string text;
    for (int i = 0; i < 1500; ++i) text += static_cast<char>('a' + i % 26);
    send_text(text);
    EXPECT_EQ(out_count, 1500 - 1024);
    set_auto_flush(true);
    Writes writes = out.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 1024u);
    EXPECT_EQ(writes[0] + writes[1], text);
    EXPECT_EQ(out_count, 0);
}

TEST_F(ScreenOutputTest, AutoFlushReportsThePreviousValue) {
    EXPECT_TRUE(set_auto_flush(false));
    send_text("held");
    EXPECT_TRUE(out.writes().empty());
    EXPECT_FALSE(set_auto_flush(false));
    EXPECT_FALSE(set_auto_flush(true));
    EXPECT_EQ(out.writes(), Writes{"held"});
}

TEST_F(ScreenOutputTest, MessageBoxScreenCostsOneWritePerOperation) {
    // The dialogue's way of drawing a box: clear, box colours, then each line as a move and
    // one write statement.
    const std::string line = "|" + std::string(38, ' ') + "|";
    Writes expected;
    clear_screen();
    expected.push_back("\x1b[H\x1b[2J");
    set_text_background(7);
    expected.push_back("\x1b[0;47m");
    set_text_colour(0);
    expected.push_back("\x1b[30m");
    for (int row = 9; row <= 15; ++row) {
        goto_xy(20, static_cast<uint8_t>(row));
        expected.push_back(row == 9 ? "\x1b[9;20H" : "\x1b[" + std::to_string(row) + ";20H");
        write_statement(line);
        expected.push_back(line);
    }
    set_text_background(0);
    expected.push_back("\x1b[0;30m");
    set_text_colour(7);
    expected.push_back("\x1b[m");
    Writes writes = out.writes();
    EXPECT_EQ(writes, expected);
    size_t bytes = 0;
    for (const std::string& w : writes) bytes += w.size();
    EXPECT_EQ(bytes, 7u + 7u + 5u + 7u + 6 * 8u + 7 * 40u + 7u + 3u);
    RecordProperty("writes", static_cast<int>(writes.size()));
    RecordProperty("bytes", static_cast<int>(bytes));
}

TEST_F(ScreenOutputTest, CellsAreNeverAddressedOutsideTheBlock) {
    // A cursor tracked off the screen writes to the terminal but stores nothing.
    place(200, 3);
    write_statement("a");
    place(5, 200);
    write_statement("def\tg\b\bh");
    move_cursor(0, 0);
    write_statement("ij");
    EXPECT_EQ(out.bytes(), "adef g\b\bh\x1b[0;0Hij");
    for (int i = 0; i < screen_cell_count * 2; ++i)
        if (screen_cells[i] != 0) ADD_FAILURE() << "cell byte " << i << " was written";

    // The widest and tallest screen a byte can address: its last cell is the block's last.
    release_screen_cells();
    test::reset_console(255, 255, 250, 255);
    write_statement("0123456789\n");
    EXPECT_EQ(out.bytes(), "012345\r\n6789\r\n");
    EXPECT_EQ(cursor(), std::pair(1, 255));
    EXPECT_EQ(test::cell(255, 255).first, '5');
    EXPECT_EQ(screen_cells[2 * screen_cell_count - 2], '5');
    EXPECT_EQ(test::cell(4, 255).first, '9');
}

TEST_F(ScreenOutputTest, ConsoleWithoutCellsStillWrites) {
    release_screen_cells();
    write_statement("no cells");
    clear_screen();
    EXPECT_EQ(out.bytes(), "no cells\x1b[H\x1b[2J");
}

}  // namespace
}  // namespace zuva
