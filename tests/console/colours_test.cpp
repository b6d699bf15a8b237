// Colours: the SGR difference for each change, the operations the dialogue calls, sequences
// written as text, and every attribute change checked against a real terminal emulator.
#include "console/colours.h"

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "console/screen_output.h"
#include "tests/console/console_output_capture.h"
#include "tests/support/terminal.h"

namespace zuva {
namespace {

using Writes = std::vector<std::string>;

void write_text(std::string_view text) { write_console_text(text.data(), static_cast<int32_t>(text.size())); }

class ColoursTest : public ::testing::Test {
protected:
    void SetUp() override { test::reset_console(); }
    void TearDown() override { test::restore_console(); }
    test::OutputCapture out;
};

TEST_F(ColoursTest, SequenceSendsOnlyTheDifference) {
    struct Case {
        uint8_t from, to;
        std::string text;
    };
    const Case cases[] = {
        {0x07, 0x07, ""},
        {0x07, 0x77, "\x1b[0;47m"},
        {0x77, 0x70, "\x1b[30m"},
        {0x70, 0x00, "\x1b[0;30m"},
        {0x00, 0x07, "\x1b[m"},
        {0x07, 0x1E, "\x1b[1;33;44m"},
        {0x07, 0x0F, "\x1b[1m"},
        {0x07, 0x8E, "\x1b[1;5;33m"},
        {0x07, 0x17, "\x1b[0;44m"},
        {0x07, 0x70, "\x1b[30;47m"},
        {0x8E, 0x07, "\x1b[m"},
        {0x0F, 0x07, "\x1b[m"},
        {0x17, 0x4F, "\x1b[1;41m"},
        {0x0E, 0x0C, "\x1b[0;1;31m"},
        {0x10, 0x9E, "\x1b[0;1;5;33;44m"},
        {0x9E, 0x1E, "\x1b[0;1;33;44m"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(view(colour_sequence(c.to, c.from)), c.text)
            << std::hex << "from 0x" << int(c.from) << " to 0x" << int(c.to);
}

TEST_F(ColoursTest, MessageBoxColoursAndBack) {
    // Into the box's colours, back out, and the same again: nothing sent.
    const std::tuple<void (*)(uint8_t), uint8_t, Writes, int> steps[] = {
        {set_text_background, 7, {"\x1b[0;47m"}, 0x77}, {set_text_colour, 0, {"\x1b[30m"}, 0x70},
        {set_text_background, 0, {"\x1b[0;30m"}, 0x00}, {set_text_colour, 7, {"\x1b[m"}, 0x07},
        {set_text_colour, 7, {}, 0x07},                {set_text_background, 0, {}, 0x07}};
    for (const auto& [set, argument, writes, attribute] : steps) {
        set(argument);
        EXPECT_EQ(out.writes(), writes) << "after " << int(argument);
        EXPECT_EQ(text_attr, attribute);
        EXPECT_EQ(sent_attr, attribute);
    }
}

TEST_F(ColoursTest, ArgumentsAreMaskedAndColoursAboveFifteenBlink) {
    text_attr = sent_attr = 0x10;
    // In turn, from one to the next; the last: a background change keeps the blink bit.
    const std::tuple<void (*)(uint8_t), uint8_t, int> steps[] = {
        {set_text_colour, 142, 0x9E},   {set_text_colour, 14, 0x1E},     {set_text_background, 15, 0x7E},
        {set_text_background, 9, 0x1E}, {set_text_colour, 16 + 4, 0x94}, {set_text_background, 2, 0xA4}};
    for (const auto& [set, argument, attribute] : steps) {
        set(argument);
        EXPECT_EQ(text_attr, attribute) << "after " << int(argument);
    }
    EXPECT_EQ(sent_attr, 0xA4);
}

TEST_F(ColoursTest, RedirectedOutputFollowsColoursSilently) {
    output_redirected = true;
    set_text_background(7);
    set_text_colour(0);
    write_text("\x1b[1;44m");
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(text_attr, 0x18);
    EXPECT_EQ(sent_attr, 0x18);
}

TEST_F(ColoursTest, ParseReadsDigitByDigit) {
    struct Case {
        std::string text;
        uint8_t from, to;
    };
    const Case cases[] = {
        {"\x1b[1;44m", 0x07, 0x1F}, {"\x1b[10m", 0x07, 0x07},  {"\x1b[38m", 0x1E, 0x1E},
        {"\x1b[5m", 0x07, 0x87},    {"\x1b[0m", 0x9E, 0x07},   {"\x1b[m", 0x9E, 0x9E},
        {"\x1b[31;42m", 0x07, 0x24}, {"\x1b[1;37m", 0x40, 0x4F}, {"\x1b[4", 0x07, 0x07},
        {"\x1b[", 0x1E, 0x1E},      {"[31m", 0x07, 0x07},      {"\x1b(31m", 0x07, 0x07},
        {"\x1b[3m1", 0x07, 0x0F},   {"\x1b[m1", 0x07, 0x07},   {"\x1b[49m", 0x1E, 0x1E},
    };
    for (const Case& c : cases) {
        std::string shown = c.text.substr(c.text[0] == '\x1b' ? 1 : 0);
        EXPECT_EQ(parse_colour_sequence(c.text, c.from), c.to)
            << std::hex << "\"" << shown << "\" from 0x" << int(c.from);
    }
}

TEST_F(ColoursTest, ColourSequencesWrittenAsTextAreSentAfresh) {
    write_text("\x1b[1;44m");
    EXPECT_EQ(out.writes(), Writes{"\x1b[1;44m"});
    EXPECT_EQ(text_attr, 0x1F);
    // ESC[1;37;44m names nothing new: nothing is sent.
    write_text("\x1b[1;37;44m");
    EXPECT_TRUE(out.writes().empty());
    write_text("x\x1b[0;1;4;34mz");
    EXPECT_EQ(out.writes(), Writes{"x\x1b[0;1;34mz"});
    EXPECT_EQ(text_attr, 0x09);
    EXPECT_EQ(test::cell(1, 1), std::make_pair('x', uint8_t(0x1F)));
    EXPECT_EQ(test::cell(2, 1), std::make_pair('z', uint8_t(0x09)));
    test::reset_console();
    out.writes();
    write_text("\x1b[10m");
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(text_attr, 7);
}

TEST_F(ColoursTest, ColourChangedBehindTheConsoleReachesTheTerminalWithTheNextText) {
    text_attr = 0x1E;
    write_text("ab");
    EXPECT_EQ(out.writes(), Writes{"\x1b[1;33;44mab"});
    EXPECT_EQ(sent_attr, 0x1E);

    // A colour the terminal already shows is still taken as the one for the next text.
    text_attr = 0x2E;
    set_text_background(1);
    EXPECT_TRUE(out.writes().empty());
    EXPECT_EQ(text_attr, 0x1E);
    text_attr = 0x4E;
    set_text_colour(14 + 16);
    EXPECT_EQ(text_attr, 0xCE);
    EXPECT_EQ(out.writes(), Writes{"\x1b[0;1;5;33;41m"});
}

TEST(ColourEmulatorTest, EveryChangeShowsTheNewAttribute) {
    // Each pair of attributes: the terminal is brought to the old one, then the difference to
    // the new one is sent, and a letter written in it must show exactly the new attribute.
    test::VtScreen vt(80, 2);
    for (int from = 0; from < 256; ++from) {
        std::string to_old = "\x1b[H\x1b[m" + std::string(view(colour_sequence(uint8_t(from), 7)));
        for (int to = 0; to < 256; ++to) {
            vt.feed(to_old);
            vt.feed(view(colour_sequence(uint8_t(to), uint8_t(from))));
            vt.feed("X");
            if (vt.attr(1, 1) != to) {
                ADD_FAILURE() << std::hex << "from 0x" << from << " to 0x" << to << " shows 0x"
                              << vt.attr(1, 1);
                return;
            }
        }
    }
}

}  // namespace
}  // namespace zuva
