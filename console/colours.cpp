#include "console/colours.h"

#include "console/screen_output.h"

namespace zuva {

uint8_t text_attr = 7;
uint8_t sent_attr = 7;

namespace {

// ANSI colour digit of each PC colour 0 to 7.
constexpr std::string_view colour_digits = "04261537";

// Adds one SGR parameter to the list, separated by ";".
void add_parameter(BoundedString& p, std::string_view x) {
    if (p.length != 0) append(p, ";");
    append(p, x);
}

void add_colour(BoundedString& p, char kind, int colour) {
    char parameter[2] = {kind, colour_digits[colour & 7]};
    add_parameter(p, std::string_view(parameter, 2));
}

}  // namespace

void set_text_colour(uint8_t colour) {
    uint8_t attr = (colour & 0x0F) | (text_attr & 0x70);
    // A colour above 15 asks for blinking.
    if (colour > 15) attr |= 0x80;
    apply_attr(attr);
}

void set_text_background(uint8_t colour) {
    text_attr = static_cast<uint8_t>((text_attr & 0x8F) | ((colour * 16) & 0x70));
    apply_attr(text_attr);
}

void apply_attr(uint8_t attr) {
    if (attr == sent_attr) {
        // The terminal already shows it; a text_attr changed behind our back must follow too.
        text_attr = attr;
        return;
    }
    if (!output_redirected) {
        BoundedString s = colour_sequence(attr, sent_attr);
        send_text(view(s));
    }
    text_attr = attr;
    sent_attr = attr;
}

void sync_text_attr() {
    if (text_attr != sent_attr) apply_attr(text_attr);
}

BoundedString colour_sequence(uint8_t new_attr, uint8_t old_attr) {
    BoundedString result;
    if (new_attr == old_attr) return result;
    int fg = new_attr & 15, bg = new_attr >> 4;
    int ofg = old_attr & 15, obg = old_attr >> 4;
    BoundedString p = bounded("", 16);
    // A reset is the only way back from bold and blink, and the shortest way to colour 7.
    if (ofg != 7 || fg == 7 || (obg >= 8 && bg < 8)) {
        append(p, "0");
        ofg = 7;
        obg = 0;
    }
    if (fg > 7 && ofg < 8) {
        add_parameter(p, "1");
        ofg |= 8;
    }
    if ((bg & 8) != (obg & 8)) {
        add_parameter(p, "5");
        obg |= 8;
    }
    if (fg != ofg) add_colour(p, '3', fg);
    if (bg != obg) add_colour(p, '4', bg);
    if (p == "0") p.length = 0;  // a pure reset goes as ESC[m
    append(result, "\x1b[");
    append(result, p);
    append(result, "m");
    return result;
}

uint8_t parse_colour_sequence(std::string_view text, uint8_t attr) {
    if (text.size() < 3 || text[0] != '\x1b' || text[1] != '[') return attr;
    // Read digit by digit: "10" is bold then a reset, "38" changes nothing.
    for (size_t i = 2; i < text.size(); ++i) {
        char c = text[i];
        if (c == 'm') break;
        if (c == '0') {
            attr = 7;
        } else if (c == '1') {
            attr |= 0x08;
        } else if (c == '5') {
            attr |= 0x80;
        } else if ((c == '3' || c == '4') && i + 1 < text.size()) {
            size_t k = colour_digits.find(text[++i]);
            if (k == std::string_view::npos) continue;
            if (c == '3')
                attr = static_cast<uint8_t>((attr & 0xF8) | k);
            else
                attr = static_cast<uint8_t>((attr & 0x8F) | (k << 4));
        }
    }
    return attr;
}

}  // namespace zuva
