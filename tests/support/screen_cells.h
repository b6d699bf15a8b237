// A console screen as a plain value: every cell's character and PC attribute, and the cursor.
// Made from the terminal emulator of the pty tests or from the Linux console's own /dev/vcsa
// image, so that both are checked against the same expected screens.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zuva::test {

class VtScreen;

struct ScreenCell {
    char32_t character = U' ';
    int attr = 0x07;  // PC text attribute: foreground bits 0-3, background bits 4-6, blink bit 7
};

struct ScreenCells {
    int cols = 80;
    int rows = 25;
    std::vector<ScreenCell> cells;  // row after row
    int cursor_column = 1;          // 1-based, as the console counts
    int cursor_row = 1;

    // Positions are 1-based, column first; outside the screen reads as a blank.
    char32_t at(int col, int row) const;
    int attr(int col, int row) const;
    // Characters outside ASCII read as '?'.
    std::string text(int col, int row, int length) const;
    std::string row(int row) const { return text(1, row, cols); }
    bool contains(std::string_view text) const;
    // All rows with their numbers and the cursor, for failure messages.
    std::string dump() const;
    bool operator==(const ScreenCells&) const = default;
};

inline bool operator==(const ScreenCell& a, const ScreenCell& b) {
    return a.character == b.character && a.attr == b.attr;
}

ScreenCells cells_of(const VtScreen& screen);

// The image /dev/vcsaN gives: rows, columns, cursor column and row (0-based), then a character
// byte and an attribute byte per cell. False when the bytes are not a whole image.
bool cells_from_vcsa(std::string_view image, ScreenCells& screen);

}  // namespace zuva::test
