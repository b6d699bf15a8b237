// Linux console fonts (PSF1 and PSF2, plain or gzip-compressed), for drawing screens as the
// console shows them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zuva::tools {

struct ConsoleFont {
    int width = 0;
    int height = 0;
    int bytes_per_row = 0;
    std::vector<std::uint8_t> glyphs;      // glyph after glyph, rows of bytes_per_row bytes
    std::map<char32_t, int> glyph_of;      // from the font's Unicode table
    int glyph_count = 0;
};

// False when the file cannot be read or is no PSF font.
bool load_console_font(const std::string& path, ConsoleFont& font);
// The first console font of the usual places that loads; empty when there is none.
std::string find_console_font(ConsoleFont& font);
// Whether the pixel (x, y) of the character's glyph is set; a character the font lacks is
// drawn as its question mark.
bool glyph_pixel(const ConsoleFont& font, char32_t character, int x, int y);

}  // namespace zuva::tools
