#include <cstdint>

#include "runtime/disk_file.h"
#include "runtime/process.h"

namespace zuva {

namespace {

void append_hex8(BoundedString& text, uintptr_t value) {
    static const char digits[] = "0123456789ABCDEF";
    char hex[8];
    for (int i = 7; i >= 0; --i) {
        hex[i] = digits[value & 15];
        value >>= 4;
    }
    append(text, std::string_view(hex, 8));
}

// The report ignores write failures, but one failed line must not silence the next.
void report_line(const BoundedString& text) {
    io_result = 0;
    write_string(0, plain_output, text);
    write_line_end(plain_output);
}

}  // namespace

BoundedString frame_line(const void* address) {
    BoundedString line = bounded("  0x");
    append_hex8(line, reinterpret_cast<uintptr_t>(address));
    return line;
}

void dump_frames(TextStream& stream, void* frame) {
    auto* current = static_cast<char*>(frame);
    char* previous = current - 1;
    int count = 0;
    bool on_terminal = is_terminal(stream.handle);
    while (current != nullptr && current > previous) {
        void* const* slots = reinterpret_cast<void* const*>(current);
        void* address = slots[1];  // the return address saved beside the frame link
        if (address != nullptr) {
            io_result = 0;
            write_string(0, stream, frame_line(address));
            write_line_end(stream);
        }
        count += 1;
        if (count > max_terminal_frames && on_terminal) break;
        if (count > max_frames) break;
        previous = current;
        current = static_cast<char*>(slots[0]);
    }
}

void exit_sequence() {
    finalize_modules();
    if (error_address == nullptr) return;
    BoundedString header = bounded("Runtime error ");
    char digits[6];
    int n = 0;
    uint16_t v = error_code;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v = static_cast<uint16_t>(v / 10);
    } while (v != 0);
    while (n > 0) append(header, std::string_view(&digits[--n], 1));
    append(header, " at 0x");
    append_hex8(header, reinterpret_cast<uintptr_t>(error_address));
    report_line(header);
    report_line(frame_line(error_address));
    dump_frames(plain_output, error_frame);
    report_line(bounded(""));
}

}  // namespace zuva
