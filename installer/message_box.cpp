#include "installer/message_box.h"

#include <cstdint>
#include <string_view>

#include "console/colours.h"
#include "console/screen_output.h"
#include "runtime/process.h"
#include "runtime/text_stream.h"

namespace zuva {

// Counts the fill characters of the box; nothing outside the box reads it.
int16_t box_fill_counter = 0;

namespace {

// The widest message that still gives a box inside 80 columns (left column 1, right column 79).
constexpr uint8_t widest_box_message = 73;

// Every piece of the box is a write statement of its own, handed to the terminal at once.
void write_piece(std::string_view piece) {
    write_string(0, std_output, piece);
    write_end(std_output);
    check_io();
}

void write_fill(char fill) {
    write_char(0, std_output, fill);
    write_end(std_output);
    check_io();
}

void write_border(uint8_t left_column, uint8_t row, int16_t length) {
    goto_xy(left_column, row);
    write_piece("+--");
    for (box_fill_counter = 1; box_fill_counter <= length; ++box_fill_counter) write_fill('-');
    write_piece("--+");
}

void write_inner_row(uint8_t left_column, uint8_t row, int16_t length) {
    goto_xy(left_column, row);
    write_piece("|  ");
    for (box_fill_counter = 1; box_fill_counter <= length; ++box_fill_counter) write_fill(' ');
    write_piece("  |");
}

}  // namespace

void reset_screen() {
    set_text_background(0);
    set_text_colour(7);
    clear_screen();
}

void show_message_box(const BoundedString& message) {
    BoundedString text;
    assign(text, message);
    // A longer message would put the box left of column 1: it is shown cut to what fits.
    if (text.length > widest_box_message) text.length = widest_box_message;

    set_text_background(7);
    set_text_colour(0);

    const int16_t length = text.length;
    const auto left_column = static_cast<uint8_t>(37 - length / 2);
    const auto text_column = static_cast<uint8_t>(40 - length / 2);

    write_border(left_column, 10, length);
    for (uint8_t row = 11; row <= 14; ++row) write_inner_row(left_column, row, length);
    write_border(left_column, 15, length);

    goto_xy(text_column, 12);
    write_piece(view(text));
    goto_xy(38, 14);
    write_piece("[Ok]");
}

}  // namespace zuva
