// The committed pictures of the installer's screens (docs/screens, taken from the Linux console
// in the virtual machine by scripts/screens) must show the program as it is now: each text dump
// shows the screen the dialogue tests expect, and each picture is its dump drawn. The VM test
// compares the dumps with the console's screens themselves.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/expected_screens.h"
#include "tests/support/terminal.h"
#include "tools/console_font.h"
#include "tools/screen_picture.h"

namespace {

using namespace zuva::test;

const std::string docs = std::string(ZUVA_SOURCE_DIR) + "/docs/screens/";
const char* const names[] = {"welcome",    "cd-device", "cd-mount-check",   "confirmation",
                             "completion", "closing",   "uefi-confirmation"};

bool committed_screen(const std::string& name, zuva::tools::ScreenShot& shot) {
    return zuva::tools::read_screen_text(read_file(docs + name + ".txt"), shot);
}

TEST(ScreenPictures, TheTextDumpsShowTheCurrentScreens) {
    // The last one: the UEFI PC's framebuffer console, its boxes where they are on 80x25.
    const Question* questions[] = {&welcome,    &cd_device_typed, &mount_check, &confirmation,
                                   &completion, nullptr,          &confirmation};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        SCOPED_TRACE(std::string("docs/screens/") + names[i] + ".txt (run scripts/screens when it is out of date)");
        zuva::tools::ScreenShot shot;
        ASSERT_TRUE(committed_screen(names[i], shot));
        if (questions[i])
            expect_question_screen(shot, *questions[i]);
        else
            expect_closing_screen(shot);
    }
    zuva::tools::ScreenShot uefi;
    ASSERT_TRUE(committed_screen("uefi-confirmation", uefi));
    EXPECT_EQ(uefi.cols * 100 + uefi.rows, 100 * 100 + 37);
    zuva::tools::ScreenShot listing;
    ASSERT_TRUE(committed_screen("confirmation", listing));
    EXPECT_EQ(listing.text(1, 1, 10), "Filesystem") << listing.dump();
    EXPECT_TRUE(listing.contains("/cdrom") && listing.contains("/drive")) << listing.dump();
}

TEST(ScreenPictures, ThePicturesShowTheirTextDumps) {
    zuva::tools::ConsoleFont font;
    if (zuva::tools::find_console_font(font).empty())
        GTEST_SKIP() << "no console font (Debian package console-setup-linux) to draw the pictures with";
    for (const char* name : names) {
        zuva::tools::ScreenShot shot;
        ASSERT_TRUE(committed_screen(name, shot)) << name;
        zuva::tools::Picture committed;
        ASSERT_TRUE(zuva::tools::read_png(docs + name + ".png", committed)) << "docs/screens/" << name << ".png";
        zuva::tools::Picture drawn = zuva::tools::render_screen(shot, font);
        EXPECT_EQ(committed.width, shot.cols * 8);
        EXPECT_EQ(committed.height, shot.rows * 16);
        ASSERT_EQ(drawn.width, committed.width);
        ASSERT_EQ(drawn.height, committed.height);
        std::size_t differing = 0;
        for (std::size_t p = 0; p < drawn.pixels.size(); ++p) differing += drawn.pixels[p] != committed.pixels[p];
        EXPECT_EQ(differing, 0u) << "docs/screens/" << name << ".png differs from its text dump in " << differing
                                 << " pixels: run scripts/screens";
    }
}

// The drawing itself: palette, glyphs, colours and the cursor, through a PNG file and back.
TEST(ScreenPictures, AScreenIsDrawnInItsColoursAndSurvivesThePngFile) {
    zuva::tools::ConsoleFont font;
    if (zuva::tools::find_console_font(font).empty())
        GTEST_SKIP() << "no console font (Debian package console-setup-linux) to draw with";
    ASSERT_EQ(font.width, 8);
    ASSERT_EQ(font.height, 16);
    zuva::tools::ScreenShot shot;
    shot.cols = 3;
    shot.rows = 2;
    shot.cells = {{U'A', 0x70}, {U' ', 0x1E}, {U'\u2500', 0x07}, {U'\u00fc', 0x4F}, {U' ', 0x07}, {U' ', 0x07}};
    shot.cursor_column = 2;
    shot.cursor_row = 2;
    zuva::tools::Picture picture = zuva::tools::render_screen(shot, font);
    ASSERT_EQ(picture.width, 24);
    ASSERT_EQ(picture.height, 32);
    auto count = [&](int col, int row, int colour) {
        int n = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 8; ++x) n += picture.pixels[(row * 16 + y) * 24 + col * 8 + x] == colour;
        return n;
    };
    // Black A on light grey; a blank in blue; the box line and u-umlaut in their foregrounds.
    EXPECT_GT(count(0, 0, 0), 0);
    EXPECT_GT(count(0, 0, 7), count(0, 0, 0));
    EXPECT_EQ(count(0, 0, 0) + count(0, 0, 7), 128);
    EXPECT_EQ(count(1, 0, 1), 128);
    EXPECT_GT(count(2, 0, 7), 0);
    EXPECT_GT(count(0, 1, 15), 0);
    EXPECT_EQ(count(0, 1, 15) + count(0, 1, 4), 128);
    // The cursor: the cell's last two pixel rows in its foreground.
    EXPECT_EQ(count(1, 1, 7), 16);
    EXPECT_EQ(count(2, 1, 7), 0);

    zuva::test::TempDir dir;
    ASSERT_TRUE(zuva::tools::write_png(dir.file("shot.png"), picture));
    zuva::tools::Picture back;
    ASSERT_TRUE(zuva::tools::read_png(dir.file("shot.png"), back));
    EXPECT_EQ(back.width, picture.width);
    EXPECT_EQ(back.height, picture.height);
    EXPECT_EQ(back.pixels, picture.pixels);
    zuva::test::write_file(dir.file("broken.png"), zuva::test::read_file(dir.file("shot.png")).substr(0, 60));
    EXPECT_FALSE(zuva::tools::read_png(dir.file("broken.png"), back));

    std::string text = zuva::tools::screen_text(shot);
    zuva::tools::ScreenShot read_back;
    ASSERT_TRUE(zuva::tools::read_screen_text(text, read_back));
    EXPECT_EQ(read_back, shot);
    EXPECT_FALSE(zuva::tools::read_screen_text(text.substr(0, text.size() - 3), read_back));
    EXPECT_EQ(text,
              "text (3x2), cursor at column 2, row 2:\n|A \u2500|\n|\u00fc  |\n"
              "attributes (background and foreground digit per cell):\n701E07\n4F0707\n");
}

}  // namespace
