#include "tests/support/screen_cells.h"

#include <cstdio>

#include "tests/support/terminal.h"

namespace zuva::test {

char32_t ScreenCells::at(int col, int row) const {
    if (col < 1 || col > cols || row < 1 || row > rows) return U' ';
    return cells[(row - 1) * cols + col - 1].character;
}

int ScreenCells::attr(int col, int row) const {
    if (col < 1 || col > cols || row < 1 || row > rows) return 0x07;
    return cells[(row - 1) * cols + col - 1].attr;
}

std::string ScreenCells::text(int col, int row, int length) const {
    std::string s;
    for (int c = col; c < col + length && c <= cols; ++c) {
        char32_t ch = at(c, row);
        s += ch < 0x80 ? static_cast<char>(ch) : '?';
    }
    return s;
}

bool ScreenCells::contains(std::string_view text) const {
    for (int r = 1; r <= rows; ++r)
        if (row(r).find(text) != std::string::npos) return true;
    return false;
}

std::string ScreenCells::dump() const {
    std::string out;
    for (int r = 1; r <= rows; ++r) {
        char number[16];
        std::snprintf(number, sizeof number, "%2d|", r);
        out += number + row(r) + "|\n";
    }
    return out + "cursor at column " + std::to_string(cursor_column) + ", row " + std::to_string(cursor_row) + "\n";
}

ScreenCells cells_of(const VtScreen& screen) {
    ScreenCells cells{screen.cols(), screen.rows(), {}, screen.cursor_column(), screen.cursor_row()};
    cells.cells.reserve(cells.cols * cells.rows);
    for (int r = 1; r <= cells.rows; ++r)
        for (int c = 1; c <= cells.cols; ++c) {
            char32_t ch = screen.at(c, r);
            cells.cells.push_back({ch == 0 ? U' ' : ch, screen.attr(c, r)});
        }
    return cells;
}

bool cells_from_vcsa(std::string_view image, ScreenCells& screen) {
    if (image.size() < 4) return false;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(image[i]); };
    const int rows = byte(0), cols = byte(1);
    if (rows == 0 || cols == 0 || image.size() != 4 + 2u * rows * cols) return false;
    screen = {cols, rows, {}, byte(2) + 1, byte(3) + 1};
    screen.cells.reserve(rows * cols);
    // The console keeps glyph numbers of its font; the installer writes ASCII only, where
    // glyph and character agree.
    for (std::size_t i = 4; i < image.size(); i += 2) screen.cells.push_back({byte(i), byte(i + 1)});
    return true;
}

}  // namespace zuva::test
