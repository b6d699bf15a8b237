// The installer's screens as a user sees them, wherever it runs: where each question waits, its
// box, texts, colours and prompt, the copy screen and the closing screens. Checked on a plain
// screen value, made from a terminal emulator or from the Linux console's cells, of any size:
// the layout is made for 80 columns, so the boxes stand where they stand on 80x25, and every
// cell that the screen leaves empty is a blank in plain colours, up to the screen's own edges.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/screen_cells.h"

namespace zuva::test {

// A text the screen shows at a place (1-based column and row).
struct Placed {
    int column = 0;
    int row = 0;
    std::string_view text;
};

// What the rows above a box show: nothing, or what the commands wrote and the listing of df.tmp
// (which the caller checks, see expect_listing_at_top).
enum class Above { blank, listing };

// Where a read of the dialogue waits: a text only its screen shows and the cursor position;
// the message of its box and what is written inside the box besides; what stands above the box.
struct Question {
    std::string_view text;
    int column;
    int row;
    std::string_view box_text;
    Placed shown[2] = {};
    Above above = Above::blank;
};

inline constexpr std::string_view ok_button = "[Ok]";
inline constexpr std::string_view yes_no_prompt = "([y]/n) ___________";
inline constexpr std::string_view device_prompt = "(Dev:) ________________________";

inline constexpr Question welcome{"Welcome to ZUVA Linux pre1-2.0 Install!", 42, 14,
                                  "Welcome to ZUVA Linux pre1-2.0 Install!", {{38, 14, ok_button}}};
inline constexpr Question interest{"Are you still intrested in installing ZUVA?", 39, 14,
                                   "Are you still intrested in installing ZUVA?", {{30, 14, yes_no_prompt}}};
inline constexpr Question warranty{"Sorry but ZUVA comes with NO WARRANTY! Well...", 63, 13,
                                   "OK! Just follow me and READ EVERYTHING!          ",
                                   {{17, 13, "Sorry but ZUVA comes with NO WARRANTY! Well..."}, {38, 14, ok_button}}};
inline constexpr Question cd_device{
    "Now please pick the adress of the device where is ZUVA Cd:", 22, 14,
    "Now please pick the adress of the device where is ZUVA Cd:",
    {{12, 13, "e.g. \"/dev/hdc\"  or  \"s\" - skip(already mounted on /cdrom)"}, {15, 14, device_prompt}}};
// The CD question after /dev/sr0 is typed, before its Enter.
inline constexpr Question cd_device_typed{cd_device.text, 30, 14, cd_device.box_text,
                                          {cd_device.shown[0], {15, 14, "(Dev:) /dev/sr0________________"}}};
inline constexpr Question mount_check{"Is it properly mounted?", 39, 14, "Is it properly mounted?                 ",
                                      {{30, 14, "([y]/n/q) ___________"}}, Above::listing};
inline constexpr Question target_device{
    "Now please pick the adress of WHERE YOU WANT ZUVA TO BE INSTALLED!", 22, 14,
    "Now please pick the adress of WHERE YOU WANT ZUVA TO BE INSTALLED!",
    {{12, 13, "e.g. \"/dev/hda1\"   or    \"s\"-skip(already mounted on /drive)"}, {15, 14, device_prompt}}};
inline constexpr Question confirmation{
    "Yeah! Let's do it! Are you sure you want to install?", 39, 14,
    "Yeah! Let's do it! Are you sure you want to install?               ",
    {{8, 13, "Are you sure that the filesystem you mounted can fit 80 mb of data?"}, {30, 14, yes_no_prompt}},
    Above::listing};
inline constexpr Question completion{"that means: You installed ZUVA SUCCESFULLY :) Press Enter", 67, 14,
                                     "Hey! Neo! Wake up!! I'm ready! If you don't see any weird messages",
                                     {{10, 14, "that means: You installed ZUVA SUCCESFULLY :) Press Enter"}},
                                     Above::listing};  // drawn over the copy screen and what its commands wrote

inline constexpr std::string_view copy_box_text = "Installing software without prompting!!!!";

inline constexpr std::string_view closing_lines[] = {
    "If you want to create a bootfloppy write:",
    "dd if=/cdrom/boot.dsk of=/dev/fd0   You need a floppy first of course :)",
    "you can also boot using the kernel on this cd -> read the isolinux splash",
};

inline constexpr std::string_view cancel_lines[] = {
    "Oh dear! You canceld before the install?!",
    "Next time just write \"s\" to skip when mounting cdrom and drive!",
};

inline constexpr int box_colours = 0x70;
inline constexpr int plain_colours = 0x07;

// The question's screen is up and the cursor waits where the read waits.
bool waits_at(const ScreenCells& screen, const Question& q);

// The frame of a box whose message has the given length, and its colours; rows after
// last_framed_row are covered by what the screen wrote over the box.
void expect_box(const ScreenCells& screen, int length, int last_framed_row = 15);
// The question's box, message, prompt and colours, the cursor where the read waits, and every
// other cell blank (above the box too unless a listing stands there).
void expect_question_screen(const ScreenCells& screen, const Question& q);
void expect_question_screen(const ScreenCells& screen, const Question& q, Above above);
// The copy screen while cp runs: its box with the two lines written over the box's lower rows,
// the commands' output above it, nothing else.
void expect_copy_screen(const ScreenCells& screen);
// Rows 1 to n show exactly these lines, light grey on black.
void expect_listing_at_top(const ScreenCells& screen, const std::vector<std::string>& lines);
// The closing instructions at the top of an otherwise blank screen, the cursor below them.
void expect_closing_screen(const ScreenCells& screen);
// The two lines of a cancel at the confirmation, the rest blank.
void expect_cancel_screen(const ScreenCells& screen);
// A blank light grey on black screen, the cursor at the top left.
void expect_cleared(const ScreenCells& screen);

}  // namespace zuva::test
