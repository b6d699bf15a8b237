#include "runtime/bounded_string.h"

#include <algorithm>
#include <cstring>

namespace zuva {

BoundedString bounded(std::string_view text, uint8_t max) {
    BoundedString s;
    s.max = max;
    assign(s, text);
    return s;
}

std::string_view view(const BoundedString& s) { return {s.chars, s.length}; }

void assign(BoundedString& target, std::string_view text) {
    size_t n = std::min<size_t>(text.size(), target.max);
    std::memmove(target.chars, text.data(), n);
    target.length = static_cast<uint8_t>(n);
}

void assign(BoundedString& target, const BoundedString& source) { assign(target, view(source)); }

void append(BoundedString& target, std::string_view text) {
    size_t room = target.max > target.length ? target.max - target.length : 0;
    size_t n = std::min(text.size(), room);
    std::memmove(target.chars + target.length, text.data(), n);
    target.length = static_cast<uint8_t>(target.length + n);
}

void append(BoundedString& target, const BoundedString& source) { append(target, view(source)); }

bool operator==(const BoundedString& a, const BoundedString& b) { return view(a) == view(b); }
bool operator==(const BoundedString& a, std::string_view b) { return view(a) == b; }

}  // namespace zuva
