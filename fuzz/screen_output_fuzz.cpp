// The console's output interpreter on any screen the model can take (0 to 255 columns and
// rows), from any tracked cursor position, with text and escape sequences cut at any point.
// Input: width, height, column, row, flags (bit 0: output redirected), text attribute; then
// pieces of text, each a way byte and a length-prefixed piece: odd, 1 to 256 bytes through
// console_write on a stream (which cuts above 255); even, 0 to 255 straight to write_console_text.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "console/colours.h"
#include "console/screen_output.h"
#include "fuzz/fuzz_input.h"

using namespace zuva;
using zuva::fuzz::require;

namespace {

bool cursor_on_screen() {
    return cursor_column >= 1 && cursor_column <= screen_width && cursor_row >= 1 &&
           cursor_row <= screen_height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int null_fd = open("/dev/null", O_WRONLY);
    zuva::fuzz::FuzzInput input{data, size};
    console_out_fd = null_fd;
    screen_width = input.byte();
    screen_height = input.byte();
    window_left = window_top = 1;
    window_right = screen_width;
    window_bottom = screen_height;
    cursor_column = input.byte();
    cursor_row = input.byte();
    output_redirected = (input.byte() & 1) != 0;
    text_attr = input.byte();
    sent_attr = 7;
    out_count = 0;
    auto_flush = true;
    escape_pending = false;
    escape_text.length = 0;
    allocate_screen_cells();
    // Start-up only ever leaves the cursor on the screen; from there nothing may move it off.
    bool kept_on_screen = cursor_on_screen();

    static TextStream stream;
    stream.buf_ptr = stream.buffer;
    stream.buf_size = stream_buffer_size;
    while (!input.done()) {
        bool through_stream = (input.byte() & 1) != 0;
        std::string_view text = input.piece(through_stream ? 1 : 0);
        if (through_stream) {
            std::memcpy(stream.buffer, text.data(), text.size());
            stream.buf_pos = static_cast<int32_t>(text.size());
            require(console_write(stream) == 0, "console_write returns 0");
            require(stream.buf_pos == 0, "console_write takes every waiting byte");
        } else {
            write_console_text(text.data(), static_cast<int32_t>(text.size()));
        }
        require(auto_flush && out_count == 0, "each write leaves in full, auto flush back on");
        if (kept_on_screen) require(cursor_on_screen(), "the cursor stays on the screen");
    }
    // The cell block is mapped whole pages at a time, out of the sanitizers' sight: the rest
    // of its last page must still be as mapped.
    size_t used = 2 * static_cast<size_t>(screen_cell_count);
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    for (size_t i = used; screen_cells != nullptr && i % page != 0; ++i) {
        require(screen_cells[i] == 0, "nothing is stored past the cell block");
    }
    release_screen_cells();
    return 0;
}
