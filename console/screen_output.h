// Screen output: the console's model of the screen and the shortest control texts that change it.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/bounded_string.h"
#include "runtime/text_stream.h"

namespace zuva {

extern int32_t screen_width;
extern int32_t screen_height;
extern uint8_t cursor_column;
extern uint8_t cursor_row;
extern int32_t window_left;
extern int32_t window_top;
extern int32_t window_right;
extern int32_t window_bottom;

// The cursor is tracked in single bytes, so the model covers at most this many columns and rows.
constexpr int32_t max_screen_side = 255;

// Copy of the screen: per cell a character byte then an attribute byte, row-major.
extern uint8_t* screen_cells;
// Cells in the block screen_cells points at; nothing is stored past it.
extern int32_t screen_cell_count;

constexpr int32_t out_buffer_size = 1024;
extern char out_buffer[out_buffer_size];
extern int32_t out_count;
extern bool auto_flush;

extern bool escape_pending;
extern BoundedString escape_text;

// Descriptor 1 is not a terminal.
extern bool output_redirected;

// Where out_buffer goes: descriptor 1; tests point it at a pipe or socket to see the bytes.
extern int32_t console_out_fd;
// A write to descriptor 1 is under way: a pause taken while it waits sends nothing of its own.
extern bool output_in_progress;

void send_text(std::string_view text);
void flush_output();
bool set_auto_flush(bool on);

BoundedString move_sequence(int32_t x, int32_t y, int32_t old_x, int32_t old_y);
void move_cursor(int32_t x, int32_t y);
void goto_xy(uint8_t column, uint8_t row);
// The terminal's cursor put where the model has it, wherever others left it.
void resend_cursor();
void clear_screen();
void clear_to_eol();
void put_cells(std::string_view text);
void line_feed();

// A zero-filled cell block of screen_width x screen_height; the old one is released first.
void allocate_screen_cells();
// Safe from the fault handler's exit path: no allocator lock is taken.
void release_screen_cells();

// transfer_op and flush_op of std_output once the console has it; always 0.
int console_write(TextStream& stream);
void write_console_text(const char* chunk, int32_t length);

}  // namespace zuva
