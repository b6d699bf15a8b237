#include "tools/console_font.h"

#include <zlib.h>

namespace zuva::tools {

namespace {

bool read_whole(const std::string& path, std::vector<std::uint8_t>& data) {
    gzFile file = gzopen(path.c_str(), "rb");  // reads uncompressed files as they are
    if (!file) return false;
    std::uint8_t buffer[65536];
    int got;
    while ((got = gzread(file, buffer, sizeof buffer)) > 0) data.insert(data.end(), buffer, buffer + got);
    gzclose(file);
    return got == 0;
}

std::uint32_t le32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
}

// A UTF-8 sequence from the PSF2 table; 0 when it is broken.
char32_t utf8_at(const std::vector<std::uint8_t>& d, std::size_t& at) {
    std::uint8_t first = d[at++];
    int more = first < 0x80 ? 0 : first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : -1;
    if (more < 0) return 0;
    char32_t c = more == 0 ? first : first & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        if (at >= d.size()) return 0;
        c = c << 6 | (d[at++] & 0x3F);
    }
    return c;
}

}  // namespace

bool load_console_font(const std::string& path, ConsoleFont& font) {
    std::vector<std::uint8_t> d;
    if (!read_whole(path, d) || d.size() < 4) return false;
    font = ConsoleFont{};
    std::size_t glyph_start = 0;
    std::size_t glyph_size = 0;
    bool has_table = false;
    bool psf2 = false;
    if (d[0] == 0x36 && d[1] == 0x04) {
        font.width = 8;
        font.height = d[3];
        font.glyph_count = d[2] & 0x01 ? 512 : 256;
        has_table = d[2] & 0x06;
        glyph_start = 4;
        glyph_size = font.height;
    } else if (d.size() >= 32 && le32(d, 0) == 0x864AB572) {
        psf2 = true;
        glyph_start = le32(d, 8);
        has_table = le32(d, 12) & 1;
        font.glyph_count = le32(d, 16);
        glyph_size = le32(d, 20);
        font.height = le32(d, 24);
        font.width = le32(d, 28);
    } else {
        return false;
    }
    font.bytes_per_row = (font.width + 7) / 8;
    std::size_t table = glyph_start + glyph_size * font.glyph_count;
    if (font.width <= 0 || font.height <= 0 || table > d.size() ||
        glyph_size < static_cast<std::size_t>(font.bytes_per_row * font.height))
        return false;
    for (int g = 0; g < font.glyph_count; ++g) {
        auto from = d.begin() + glyph_start + glyph_size * g;
        font.glyphs.insert(font.glyphs.end(), from, from + font.bytes_per_row * font.height);
    }
    if (!has_table) {
        for (int g = 0; g < font.glyph_count && g < 256; ++g) font.glyph_of[g] = g;
        return true;
    }
    // Each glyph's characters, then its sequences (which are not needed here), then the end mark.
    std::size_t at = table;
    for (int g = 0; g < font.glyph_count && at < d.size(); ++g) {
        bool in_sequence = false;
        while (at < d.size()) {
            if (psf2) {
                std::uint8_t b = d[at];
                if (b == 0xFF) { ++at; break; }
                if (b == 0xFE) { ++at; in_sequence = true; continue; }
                char32_t c = utf8_at(d, at);
                if (!in_sequence && c && !font.glyph_of.count(c)) font.glyph_of[c] = g;
            } else {
                if (at + 1 >= d.size()) { at = d.size(); break; }
                char32_t c = d[at] | d[at + 1] << 8;
                at += 2;
                if (c == 0xFFFF) break;
                if (c == 0xFFFE) { in_sequence = true; continue; }
                if (!in_sequence && !font.glyph_of.count(c)) font.glyph_of[c] = g;
            }
        }
    }
    return true;
}

std::string find_console_font(ConsoleFont& font) {
    for (const char* path : {"/usr/share/consolefonts/Lat15-VGA16.psf.gz", "/usr/share/consolefonts/default8x16.psf.gz",
                             "/usr/share/kbd/consolefonts/default8x16.psf.gz", "/usr/share/consolefonts/Uni2-VGA16.psf.gz"})
        if (load_console_font(path, font)) return path;
    return "";
}

bool glyph_pixel(const ConsoleFont& font, char32_t character, int x, int y) {
    auto found = font.glyph_of.find(character);
    if (found == font.glyph_of.end()) found = font.glyph_of.find(U'?');
    if (found == font.glyph_of.end() || x < 0 || y < 0 || x >= font.width || y >= font.height) return false;
    const std::uint8_t* row = &font.glyphs[(found->second * font.height + y) * font.bytes_per_row];
    return row[x / 8] & (0x80 >> (x % 8));
}

}  // namespace zuva::tools
