// Pictures of console screens: the cells of a screen drawn with a console font in the VGA
// text palette, kept as palette PNG files, and a text dump of the same screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/screen_cells.h"
#include "tools/console_font.h"

namespace zuva::tools {

// A screen's cells, colours and cursor, as the tests see them.
using ScreenCell = test::ScreenCell;
using ScreenShot = test::ScreenCells;

// One palette index (0-15) per pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// The 16 colours of the VGA text palette, red, green and blue each.
extern const std::uint8_t vga_palette[16][3];

// Each cell in its colours; the cursor as the console's underline in the cell's foreground.
Picture render_screen(const ScreenShot& shot, const ConsoleFont& font);
// Rows of text (UTF-8) and rows of two hexadecimal attribute digits per cell, and the cursor.
std::string screen_text(const ScreenShot& shot);
// Reads back what screen_text wrote; false when the text is not such a dump.
bool read_screen_text(const std::string& text, ScreenShot& shot);

bool write_png(const std::string& path, const Picture& picture);
// Reads back the PNG files that write_png makes (8-bit palette, no interlace).
bool read_png(const std::string& path, Picture& picture);

}  // namespace zuva::tools
