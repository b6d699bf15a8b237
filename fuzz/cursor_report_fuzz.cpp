// The cursor-position reply as one read of the terminal brings it: the reply, keys typed
// ahead of it, a cut-off reply, or noise. Input: the bytes of that read.
#include <string_view>

#include "console/raw_terminal.h"
#include "fuzz/fuzz_input.h"

using zuva::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    uint8_t column = 0xFF, row = 0xFF;
    zuva::parse_cursor_report(bytes, column, row);
    // A position is read only out of a reply that has its ";" and, after it, its closing R.
    size_t semicolon = bytes.find(';');
    bool could_be_reply = semicolon != std::string_view::npos &&
                          bytes.find('R', semicolon) != std::string_view::npos;
    require(could_be_reply || (column == 0 && row == 0), "no position without ; and R");
    return 0;
}
