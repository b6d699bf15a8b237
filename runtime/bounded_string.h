// Short strings with a length byte and a declared maximum per variable.
#pragma once

#include <cstdint>
#include <string_view>

namespace zuva {

struct BoundedString {
    uint8_t max = 255;      // declared maximum of this variable, 0 to 255
    uint8_t length = 0;
    char chars[255] = {};
};

// A bounded string of the given maximum holding as much of text as fits.
BoundedString bounded(std::string_view text, uint8_t max = 255);

std::string_view view(const BoundedString& s);

// Assignment keeps at most the target's maximum and drops the rest.
void assign(BoundedString& target, std::string_view text);
void assign(BoundedString& target, const BoundedString& source);

// Appending keeps only what still fits (into 255, and into the target's maximum).
void append(BoundedString& target, std::string_view text);
void append(BoundedString& target, const BoundedString& source);

// Equal only with the same length and the same characters, case counted.
bool operator==(const BoundedString& a, const BoundedString& b);
bool operator==(const BoundedString& a, std::string_view b);

}  // namespace zuva
