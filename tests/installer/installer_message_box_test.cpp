#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/support/expected_screens.h"
#include "tests/support/terminal.h"

namespace {

using zuva::test::exit_shown;
using zuva::test::PtyProgram;

const std::string probe = std::string(ZUVA_PROBE_DIR) + "/installer_screen_probe";

using zuva::test::box_colours;
using zuva::test::plain_colours;

// Runs the probe's script on an 80x25 terminal and leaves the final screen in `program`.
void run_script(PtyProgram& program, std::vector<std::string> script) {
    script.insert(script.begin(), probe);
    ASSERT_TRUE(program.start(script));
    ASSERT_EQ(exit_shown(program.wait_exit()), "exit status 0") << program.screen.dump();
}

// A message of the given length whose first and last characters are visible.
std::string message_of_length(int length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
    if (length > 0) text.front() = '<';
    if (length > 1) text.back() = '>';
    return text;
}

// The six rows of a box with this message, as the screen shows them from its left column.
std::vector<std::string> box_rows(const std::string& message) {
    const std::string fill(message.size(), ' ');
    std::string label_row = "|  " + fill + "  |";
    label_row.replace(38 - (37 - static_cast<int>(message.size()) / 2), 4, "[Ok]");
    return {"+--" + std::string(message.size(), '-') + "--+",
            "|  " + fill + "  |",
            "|  " + message + "  |",
            "|  " + fill + "  |",
            label_row,
            "+--" + std::string(message.size(), '-') + "--+"};
}

void expect_box(const zuva::test::VtScreen& screen, const std::string& message, int left) {
    const std::vector<std::string> rows = box_rows(message);
    const int width = static_cast<int>(rows[0].size());
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(screen.text(left, 10 + i, width), rows[i]) << "row " << 10 + i << "\n" << screen.dump();
        EXPECT_EQ(screen.attr(left, 10 + i), box_colours) << "row " << 10 + i;
        EXPECT_EQ(screen.attr(left + width - 1, 10 + i), box_colours) << "row " << 10 + i;
    }
}

struct BoxPlace {
    int length;
    int left;
    int text_column;
    int right;
};

TEST(MessageBox, IsCentredByTheMessageLengthWithTheLabelAndCursorFixed) {
    const BoxPlace places[] = {{0, 37, 40, 42},  {39, 18, 21, 62}, {40, 17, 20, 62}, {41, 17, 20, 63},
                               {43, 16, 19, 64}, {49, 13, 16, 67}, {58, 8, 11, 71},  {66, 4, 7, 75},
                               {67, 4, 7, 76},   {73, 1, 4, 79}};
    for (const BoxPlace& place : places) {
        SCOPED_TRACE("message length " + std::to_string(place.length));
        PtyProgram program;
        const std::string message = message_of_length(place.length);
        run_script(program, {"reset:", "box:" + message});
        const zuva::test::VtScreen& screen = program.screen;
        expect_box(screen, message, place.left);
        if (place.length > 0) {
            EXPECT_EQ(screen.at(place.text_column, 12), U'<');
            EXPECT_EQ(screen.at(place.right - 3, 12), U'>');
            EXPECT_EQ(screen.attr(place.text_column, 12), box_colours);
        }
        EXPECT_EQ(screen.text(38, 14, 4), "[Ok]");
        EXPECT_EQ(screen.at(place.right, 10), U'+');
        // Nothing outside the box is touched.
        if (place.left > 1) {
            EXPECT_EQ(screen.at(place.left - 1, 12), U' ');
            EXPECT_EQ(screen.attr(place.left - 1, 12), plain_colours);
        }
        EXPECT_EQ(screen.at(place.right + 1, 12), U' ');
        EXPECT_EQ(screen.attr(place.right + 1, 12), plain_colours);
        EXPECT_EQ(screen.row(9), std::string(80, ' '));
        EXPECT_EQ(screen.row(16), std::string(80, ' '));
        EXPECT_EQ(screen.cursor(), std::pair(42, 14));
    }
}

TEST(MessageBox, TrailingSpacesPlaceTheWordsLeftOfTheMiddle) {
    PtyProgram program;
    const std::string message = "OK! Just follow me and READ EVERYTHING!          ";
    run_script(program, {"reset:", "box:" + message});
    expect_box(program.screen, message, 13);
    EXPECT_EQ(program.screen.text(16, 12, 39), "OK! Just follow me and READ EVERYTHING!");
}

TEST(MessageBox, OverlongMessageIsCutToTheWidestBoxThatFits) {
    for (int length : {74, 120, 255}) {
        SCOPED_TRACE("message length " + std::to_string(length));
        PtyProgram program;
        const std::string message = message_of_length(length);
        run_script(program, {"reset:", "box:" + message});
        expect_box(program.screen, message.substr(0, 73), 1);
        EXPECT_EQ(program.screen.at(80, 10), U' ');
        EXPECT_EQ(program.screen.cursor(), std::pair(42, 14));
    }
}

TEST(MessageBox, NarrowBoxOverAWideOneLeavesTheWideEdgesAndNotTheOtherWay) {
    const std::string wide = message_of_length(67);
    const std::string narrow = message_of_length(39);
    {
        PtyProgram program;
        run_script(program, {"reset:", "box:" + wide, "box:" + narrow});
        expect_box(program.screen, narrow, 18);
        const std::vector<std::string> wide_rows = box_rows(wide);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(program.screen.text(4, 10 + i, 14), wide_rows[i].substr(0, 14)) << "row " << 10 + i;
            EXPECT_EQ(program.screen.text(63, 10 + i, 14), wide_rows[i].substr(59, 14)) << "row " << 10 + i;
        }
    }
    {
        PtyProgram program;
        run_script(program, {"reset:", "box:" + narrow, "box:" + wide});
        expect_box(program.screen, wide, 4);
    }
}

TEST(ScreenReset, ColoursFollowTheLastBoxOrReset) {
    PtyProgram program;
    run_script(program, {"reset:", "box:" + message_of_length(39), "write:abc", "reset:", "write:xyz"});
    const zuva::test::VtScreen& screen = program.screen;
    // The reset cleared the box away and left light grey on black from the top left corner.
    EXPECT_EQ(screen.text(1, 1, 4), "xyz ");
    EXPECT_EQ(screen.attr(1, 1), plain_colours);
    for (int row = 2; row <= 25; ++row) EXPECT_EQ(screen.row(row), std::string(80, ' ')) << screen.dump();
    EXPECT_EQ(screen.attr(18, 10), plain_colours);
    EXPECT_EQ(screen.attr(42, 14), plain_colours);
    EXPECT_EQ(screen.cursor(), std::pair(4, 1));

    PtyProgram boxed;
    run_script(boxed, {"reset:", "box:" + message_of_length(39), "write:abc"});
    EXPECT_EQ(boxed.screen.text(42, 14, 3), "abc");
    EXPECT_EQ(boxed.screen.attr(42, 14), box_colours);
    EXPECT_EQ(boxed.screen.attr(44, 14), box_colours);
}

}  // namespace
