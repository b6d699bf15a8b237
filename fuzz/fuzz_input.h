// What the fuzz targets share: reading an input front to back, and failing a broken invariant.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace zuva::fuzz {

// Settings first, then data: the seeds stay easy to write by hand. Past the end, bytes read 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    bool done() const { return pos >= size; }
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    // A length byte (plus extra), then that many bytes (fewer at the end of the input).
    std::string_view piece(size_t extra = 0) {
        size_t n = byte() + extra;
        if (n > size - pos) n = size - pos;
        std::string_view bytes(reinterpret_cast<const char*>(data + pos), n);
        pos += n;
        return bytes;
    }
};

// Ends the run the way a sanitizer finding does, so that libFuzzer saves the input.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
}

}  // namespace zuva::fuzz
