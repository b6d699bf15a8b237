#include "tests/support/expected_screens.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace zuva::test {

namespace {

// A block of cells, 1-based, corners included.
struct Area {
    int left, top, right, bottom;
    bool holds(int col, int row) const { return col >= left && col <= right && row >= top && row <= bottom; }
};

// The box of a message of the given length: the layout's columns, whatever the screen's width.
Area box_area(int length) {
    const int left = 37 - length / 2;
    return {left, 10, left + length + 5, 15};
}

// The rows above the boxes, where commands and listings write.
Area rows_above_box(const ScreenCells& screen) { return {1, 1, screen.cols, 9}; }

std::string cell_shown(const ScreenCells& screen, int col, int row) {
    char text[80];
    const char32_t c = screen.at(col, row);
    std::snprintf(text, sizeof text, "column %d, row %d: '%c' in colours %02X", col, row,
                  c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?', screen.attr(col, row));
    return text;
}

// Each cell of the area that fails the test, counted, the first one named: one failure, not a
// screenful of them.
template <typename Wrong>
void expect_no_cell(const ScreenCells& screen, const std::string& what, Wrong wrong) {
    int count = 0;
    std::string first;
    for (int row = 1; row <= screen.rows; ++row)
        for (int col = 1; col <= screen.cols; ++col)
            if (wrong(col, row) && count++ == 0) first = cell_shown(screen, col, row);
    EXPECT_EQ(count, 0) << count << " cells " << what << ", the first at " << first << " (screen " << screen.cols
                        << "x" << screen.rows << ")\n" << screen.dump();
}

// Every cell outside the areas is a blank in plain colours, to the screen's own edges.
void expect_blank_outside(const ScreenCells& screen, std::initializer_list<Area> drawn) {
    expect_no_cell(screen, "drawn where the screen is empty", [&](int col, int row) {
        for (const Area& a : drawn)
            if (a.holds(col, row)) return false;
        return screen.at(col, row) != U' ' || screen.attr(col, row) != plain_colours;
    });
}

void expect_colours(const ScreenCells& screen, const Area& area, int colours, const std::string& what) {
    expect_no_cell(screen, "of " + what + " in other colours", [&](int col, int row) {
        return area.holds(col, row) && screen.attr(col, row) != colours;
    });
}

void expect_lines_then_blank(const ScreenCells& screen, const std::vector<std::string>& lines) {
    expect_listing_at_top(screen, lines);
    const Area text{1, 1, screen.cols, static_cast<int>(lines.size())};
    expect_colours(screen, text, plain_colours, "the lines");
    expect_blank_outside(screen, {text});
}

}  // namespace

bool waits_at(const ScreenCells& screen, const Question& q) {
    return screen.contains(q.text) && screen.cursor_column == q.column && screen.cursor_row == q.row;
}

void expect_box(const ScreenCells& screen, int length, int last_framed_row) {
    const Area box = box_area(length);
    const int left = box.left, right = box.right;
    const std::string border = "+--" + std::string(length, '-') + "--+";
    EXPECT_EQ(screen.text(left, 10, length + 6), border) << screen.dump();
    if (last_framed_row == 15) {
        EXPECT_EQ(screen.text(left, 15, length + 6), border) << screen.dump();
    }
    for (int row = 11; row <= std::min(last_framed_row, 14); ++row) {
        EXPECT_EQ(screen.at(left, row), U'|') << "row " << row << "\n" << screen.dump();
        EXPECT_EQ(screen.at(right, row), U'|') << "row " << row << "\n" << screen.dump();
    }
    // What is written over the box is written in its colours too.
    expect_colours(screen, box, box_colours, "the box");
}

void expect_question_screen(const ScreenCells& screen, const Question& q) {
    expect_question_screen(screen, q, q.above);
}

void expect_question_screen(const ScreenCells& screen, const Question& q, Above above) {
    const int length = static_cast<int>(q.box_text.size());
    expect_box(screen, length);
    EXPECT_EQ(screen.text(40 - length / 2, 12, length), q.box_text) << screen.dump();
    for (const Placed& p : q.shown) {
        if (p.text.empty()) continue;
        EXPECT_EQ(screen.text(p.column, p.row, static_cast<int>(p.text.size())), p.text) << screen.dump();
        EXPECT_EQ(screen.attr(p.column, p.row), box_colours) << p.text;
    }
    if (above == Above::listing)
        expect_blank_outside(screen, {box_area(length), rows_above_box(screen)});
    else
        expect_blank_outside(screen, {box_area(length)});
    EXPECT_EQ(std::pair(screen.cursor_column, screen.cursor_row), std::pair(q.column, q.row)) << q.text;
}

void expect_copy_screen(const ScreenCells& screen) {
    const int length = static_cast<int>(copy_box_text.size());
    expect_box(screen, length, 13);
    EXPECT_EQ(screen.text(17, 14, 8), "|       ") << screen.dump();
    EXPECT_EQ(screen.text(17, 15, 8), "+-------") << screen.dump();
    EXPECT_EQ(screen.text(20, 12, 41), copy_box_text) << screen.dump();
    EXPECT_EQ(screen.text(25, 14, 47), "Sit down and relax. Any problems will pop-up...") << screen.dump();
    EXPECT_EQ(screen.text(25, 15, 47), "....................enjoy the silence..........") << screen.dump();
    // The two lines reach past the box's right edge, in its colours.
    const Area lines{25, 14, 71, 15};
    expect_colours(screen, lines, box_colours, "the copy screen's lines");
    expect_blank_outside(screen, {box_area(length), lines, rows_above_box(screen)});
}

void expect_listing_at_top(const ScreenCells& screen, const std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        EXPECT_EQ(screen.row(row), lines[i] + std::string(screen.cols - lines[i].size(), ' ')) << screen.dump();
        EXPECT_EQ(screen.attr(1, row), plain_colours) << "row " << row;
    }
}

void expect_closing_screen(const ScreenCells& screen) {
    expect_lines_then_blank(screen, {closing_lines, closing_lines + std::size(closing_lines)});
    EXPECT_EQ(std::pair(screen.cursor_column, screen.cursor_row), std::pair(1, 4));
}

void expect_cancel_screen(const ScreenCells& screen) {
    expect_lines_then_blank(screen, {cancel_lines, cancel_lines + std::size(cancel_lines)});
}

void expect_cleared(const ScreenCells& screen) {
    expect_blank_outside(screen, {});
    EXPECT_EQ(std::pair(screen.cursor_column, screen.cursor_row), std::pair(1, 1));
}

}  // namespace zuva::test
