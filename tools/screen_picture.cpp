#include "tools/screen_picture.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <sstream>

namespace zuva::tools {

const std::uint8_t vga_palette[16][3] = {
    {0x00, 0x00, 0x00}, {0x00, 0x00, 0xAA}, {0x00, 0xAA, 0x00}, {0x00, 0xAA, 0xAA},
    {0xAA, 0x00, 0x00}, {0xAA, 0x00, 0xAA}, {0xAA, 0x55, 0x00}, {0xAA, 0xAA, 0xAA},
    {0x55, 0x55, 0x55}, {0x55, 0x55, 0xFF}, {0x55, 0xFF, 0x55}, {0x55, 0xFF, 0xFF},
    {0xFF, 0x55, 0x55}, {0xFF, 0x55, 0xFF}, {0xFF, 0xFF, 0x55}, {0xFF, 0xFF, 0xFF},
};

Picture render_screen(const ScreenShot& shot, const ConsoleFont& font) {
    Picture picture;
    picture.width = shot.cols * font.width;
    picture.height = shot.rows * font.height;
    picture.pixels.assign(static_cast<std::size_t>(picture.width) * picture.height, 0);
    for (int r = 0; r < shot.rows; ++r) {
        for (int c = 0; c < shot.cols; ++c) {
            const ScreenCell& cell = shot.cells[r * shot.cols + c];
            std::uint8_t fg = cell.attr & 0x0F;
            std::uint8_t bg = (cell.attr >> 4) & 0x07;
            bool cursor = c + 1 == shot.cursor_column && r + 1 == shot.cursor_row;
            for (int y = 0; y < font.height; ++y) {
                // The console's default cursor: the last two lines of the cell.
                bool underline = cursor && y >= font.height - 2;
                for (int x = 0; x < font.width; ++x) {
                    bool on = underline || glyph_pixel(font, cell.character, x, y);
                    picture.pixels[(r * font.height + y) * picture.width + c * font.width + x] = on ? fg : bg;
                }
            }
        }
    }
    return picture;
}

namespace {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x20 || c == 0x7F) c = U' ';
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift & 0xFF);
}

std::uint32_t get32(const std::string& in, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at])) << 24 |
           static_cast<unsigned char>(in[at + 1]) << 16 | static_cast<unsigned char>(in[at + 2]) << 8 |
           static_cast<unsigned char>(in[at + 3]);
}

void put_chunk(std::string& out, const char* type, const std::string& data) {
    put32(out, data.size());
    std::string body = std::string(type, 4) + data;
    out += body;
    put32(out, crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size()));
}

const char png_signature[] = "\x89PNG\r\n\x1a\n";

}  // namespace

std::string screen_text(const ScreenShot& shot) {
    std::string out = "text (" + std::to_string(shot.cols) + "x" + std::to_string(shot.rows) + "), cursor at column " +
                      std::to_string(shot.cursor_column) + ", row " + std::to_string(shot.cursor_row) + ":\n";
    for (int r = 0; r < shot.rows; ++r) {
        out += '|';
        for (int c = 0; c < shot.cols; ++c) append_utf8(out, shot.cells[r * shot.cols + c].character);
        out += "|\n";
    }
    out += "attributes (background and foreground digit per cell):\n";
    static const char digits[] = "0123456789ABCDEF";
    for (int r = 0; r < shot.rows; ++r) {
        for (int c = 0; c < shot.cols; ++c) {
            int attr = shot.cells[r * shot.cols + c].attr;
            out += digits[attr >> 4 & 0x0F];
            out += digits[attr & 0x0F];
        }
        out += '\n';
    }
    return out;
}

bool read_screen_text(const std::string& text, ScreenShot& shot) {
    std::istringstream in(text);
    std::string line;
    shot = {};
    if (!std::getline(in, line) ||
        std::sscanf(line.c_str(), "text (%dx%d), cursor at column %d, row %d:", &shot.cols, &shot.rows,
                    &shot.cursor_column, &shot.cursor_row) != 4 ||
        shot.cols <= 0 || shot.rows <= 0)
        return false;
    for (int r = 0; r < shot.rows; ++r) {
        if (!std::getline(in, line) || line.size() < 2 || line.front() != '|' || line.back() != '|') return false;
        // UTF-8 between the bars, one character a cell.
        for (std::size_t i = 1; i + 1 < line.size();) {
            const auto lead = static_cast<unsigned char>(line[i]);
            const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
            char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
            for (int k = 1; k <= extra && i + k + 1 < line.size(); ++k) c = c << 6 | (line[i + k] & 0x3F);
            shot.cells.push_back({c, 0});
            i += 1 + extra;
        }
        if (shot.cells.size() != static_cast<std::size_t>((r + 1) * shot.cols)) return false;
    }
    if (!std::getline(in, line) || line.rfind("attributes", 0) != 0) return false;
    for (int r = 0; r < shot.rows; ++r) {
        if (!std::getline(in, line) || line.size() != static_cast<std::size_t>(2 * shot.cols)) return false;
        for (int c = 0; c < shot.cols; ++c) {
            const std::string digits = line.substr(2 * c, 2);
            if (digits.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
            shot.cells[r * shot.cols + c].attr = std::stoi(digits, nullptr, 16);
        }
    }
    return true;
}

bool write_png(const std::string& path, const Picture& picture) {
    std::string raw;
    raw.reserve((picture.width + 1) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        raw += '\0';  // no filter
        raw.append(reinterpret_cast<const char*>(&picture.pixels[y * picture.width]), picture.width);
    }
    uLongf packed_size = compressBound(raw.size());
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
                  raw.size(), 9) != Z_OK)
        return false;
    packed.resize(packed_size);

    std::string header, palette;
    put32(header, picture.width);
    put32(header, picture.height);
    header += std::string("\x08\x03\x00\x00\x00", 5);  // 8 bits, palette, deflate, no filter choice, no interlace
    for (const auto& rgb : vga_palette) palette.append(reinterpret_cast<const char*>(rgb), 3);
    std::string file(png_signature, 8);
    put_chunk(file, "IHDR", header);
    put_chunk(file, "PLTE", palette);
    put_chunk(file, "IDAT", packed);
    put_chunk(file, "IEND", "");

    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

bool read_png(const std::string& path, Picture& picture) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return false;
    std::string file;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) file.append(buffer, got);
    std::fclose(in);
    if (file.size() < 8 || file.compare(0, 8, std::string(png_signature, 8)) != 0) return false;
    std::string packed;
    picture = Picture{};
    for (std::size_t at = 8; at + 12 <= file.size();) {
        std::uint32_t length = get32(file, at);
        if (at + 12 + length > file.size()) return false;
        std::string type = file.substr(at + 4, 4);
        std::string data = file.substr(at + 8, length);
        if (type == "IHDR") {
            if (length != 13 || data[8] != 8 || data[9] != 3 || data[12] != 0) return false;
            picture.width = get32(data, 0);
            picture.height = get32(data, 4);
        } else if (type == "IDAT") {
            packed += data;
        } else if (type == "IEND") {
            break;
        }
        at += 12 + length;
    }
    if (picture.width <= 0 || picture.height <= 0) return false;
    uLongf raw_size = static_cast<uLongf>(picture.width + 1) * picture.height;
    std::string raw(raw_size, '\0');
    if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &raw_size, reinterpret_cast<const Bytef*>(packed.data()),
                   packed.size()) != Z_OK ||
        raw_size != raw.size())
        return false;
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        if (raw[y * (picture.width + 1)] != 0) return false;
        std::memcpy(&picture.pixels[y * picture.width], &raw[y * (picture.width + 1) + 1], picture.width);
    }
    return true;
}

}  // namespace zuva::tools
