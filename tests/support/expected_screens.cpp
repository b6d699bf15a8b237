#include "tests/support/expected_screens.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zuva::test {

namespace {

void expect_lines_then_blank(const ScreenCells& screen, const std::vector<std::string>& lines) {
    expect_listing_at_top(screen, lines);
    for (int row = static_cast<int>(lines.size()) + 1; row <= screen.rows; ++row)
        EXPECT_EQ(screen.row(row), std::string(screen.cols, ' ')) << screen.dump();
}

}  // namespace

bool waits_at(const ScreenCells& screen, const Question& q) {
    return screen.contains(q.text) && screen.cursor_column == q.column && screen.cursor_row == q.row;
}

void expect_box(const ScreenCells& screen, int length, int last_framed_row) {
    const int left = 37 - length / 2;
    const int right = left + length + 5;
    const std::string border = "+--" + std::string(length, '-') + "--+";
    EXPECT_EQ(screen.text(left, 10, length + 6), border) << screen.dump();
    if (last_framed_row == 15) {
        EXPECT_EQ(screen.text(left, 15, length + 6), border) << screen.dump();
    }
    for (int row = 11; row <= std::min(last_framed_row, 14); ++row) {
        EXPECT_EQ(screen.at(left, row), U'|') << "row " << row << "\n" << screen.dump();
        EXPECT_EQ(screen.at(right, row), U'|') << "row " << row << "\n" << screen.dump();
        EXPECT_EQ(screen.attr(left, row), box_colours) << "row " << row;
    }
    EXPECT_EQ(screen.attr(right, 10), box_colours);
}

void expect_question_screen(const ScreenCells& screen, const Question& q) {
    const int length = static_cast<int>(q.box_text.size());
    expect_box(screen, length);
    EXPECT_EQ(screen.text(40 - length / 2, 12, length), q.box_text) << screen.dump();
    for (const Placed& p : q.shown) {
        if (p.text.empty()) continue;
        EXPECT_EQ(screen.text(p.column, p.row, static_cast<int>(p.text.size())), p.text) << screen.dump();
        EXPECT_EQ(screen.attr(p.column, p.row), box_colours) << p.text;
    }
    EXPECT_EQ(screen.cursor_column, q.column) << q.text;
    EXPECT_EQ(screen.cursor_row, q.row) << q.text;
}

void expect_copy_screen(const ScreenCells& screen) {
    expect_box(screen, static_cast<int>(copy_box_text.size()), 13);
    EXPECT_EQ(screen.text(17, 14, 8), "|       ") << screen.dump();
    EXPECT_EQ(screen.text(17, 15, 8), "+-------") << screen.dump();
    EXPECT_EQ(screen.text(20, 12, 41), copy_box_text) << screen.dump();
    EXPECT_EQ(screen.text(25, 14, 47), "Sit down and relax. Any problems will pop-up...") << screen.dump();
    EXPECT_EQ(screen.text(25, 15, 47), "....................enjoy the silence..........") << screen.dump();
    EXPECT_EQ(screen.attr(25, 15), box_colours);
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
    EXPECT_EQ(screen.cursor_column, 1);
    EXPECT_EQ(screen.cursor_row, 4);
}

void expect_cancel_screen(const ScreenCells& screen) {
    expect_lines_then_blank(screen, {cancel_lines, cancel_lines + std::size(cancel_lines)});
}

void expect_cleared(const ScreenCells& screen) {
    for (int row = 1; row <= screen.rows; ++row) EXPECT_EQ(screen.row(row), std::string(screen.cols, ' ')) << screen.dump();
    EXPECT_EQ(screen.attr(40, 12), plain_colours);
    EXPECT_EQ(screen.cursor_column, 1);
    EXPECT_EQ(screen.cursor_row, 1);
}

}  // namespace zuva::test
