// The keyboard decoder under the line editor, as the installer reads its answers from a raw
// terminal: keys in reads cut at any point, bytes of a sequence arriving late, reads cut
// short by a signal, failed reads, and the end of input. The keys come from a source of our
// own, with no real waiting; the echo goes to /dev/null through the console.
// Input: the maximum answer length, the line buffer's size less one, then events, each a
// kind byte: 0 to 3 a read of a length-prefixed piece, 4 a pause (the next byte comes late),
// 5 and 6 a read cut short (EINTR, EAGAIN), 7 the end (a failed read if bit 3 is set, else
// a read of 0). After the last event the input ends.
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "console/keyboard.h"
#include "console/line_input.h"
#include "console/raw_terminal.h"
#include "console/screen_output.h"
#include "console/startup.h"
#include "fuzz/fuzz_input.h"
#include "runtime/system_call.h"
#include "runtime/text_stream.h"

using namespace zuva;
using zuva::fuzz::require;

namespace {

enum Kind : uint8_t { pause = 4, interrupted = 5, try_again = 6, end = 7 };

zuva::fuzz::FuzzInput events{nullptr, 0};
std::string_view pending;  // bytes of the current read that the ring had no room for
bool ended = false;

void ask_keyboard() { require(!ended, "the keyboard is not asked again after its input ended"); }

int32_t source_read(uint8_t* into, int32_t count) {
    ask_keyboard();
    while (pending.empty()) {
        if (events.done()) {
            ended = true;
            return 0;
        }
        uint8_t kind = events.byte();
        switch (kind % 8) {
        case pause:
            break;  // a read waits as long as it takes
        case interrupted:
            last_os_error = 4;
            return -1;
        case try_again:
            last_os_error = 11;
            return -1;
        case end:
            ended = true;
            if ((kind & 8) == 0) return 0;
            last_os_error = 5;  // EIO, as from a hung-up terminal
            return -1;
        default:
            pending = events.piece();
        }
    }
    int32_t n = std::min<int32_t>(count, static_cast<int32_t>(pending.size()));
    std::memcpy(into, pending.data(), static_cast<size_t>(n));
    pending.remove_prefix(static_cast<size_t>(n));
    return n;
}

// A pause keeps the next byte from a look without waiting; a wait without end sits it out.
bool source_wait(int32_t timeout_ms) {
    ask_keyboard();
    if (!pending.empty()) return true;
    while (!events.done() && events.data[events.pos] % 8 == pause) {
        if (timeout_ms == 0) return false;
        events.pos += 1;
    }
    return true;  // a read would bring something, fail or end: the terminal is readable
}

void source_sleep(int32_t) {}

int checked_console_read(TextStream& stream) {
    bool interrupted_before = input_interrupted;
    int result = console_read(stream);
    require(stream.buf_pos == 0 && stream.buf_end >= 0 && stream.buf_end <= stream.buf_size,
            "a refill stays within the buffer");
    std::string_view line(stream.buf_ptr, static_cast<size_t>(stream.buf_end));
    require(line.find_first_of("\x03\x1b") == std::string_view::npos,
            "an answer never holds Ctrl+C or Escape");
    require(line.find('\n') == std::string_view::npos || line.find('\n') == line.size() - 1,
            "a line end only ends a refill");
    require(interrupted_before || !input_interrupted || line.empty(),
            "Ctrl+C takes what was typed on its line with it");
    require(tty_ring_read >= 0 && tty_ring_read < tty_ring_size && tty_ring_write >= 0 &&
                tty_ring_write < tty_ring_size && tty_ring_count >= 0 && tty_ring_count <= tty_ring_size,
            "the ring's indices and count stay within it");
    require((tty_ring_write - tty_ring_read - tty_ring_count) % tty_ring_size == 0,
            "the ring's count is what lies between its indices");
    require(key_queue_put >= 0 && key_queue_put < key_queue_size && key_queue_take >= 0 &&
                key_queue_take < key_queue_size,
            "the key queue's indices stay within it");
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The editor serves only a terminal: a pseudo-terminal's slave stands for it, never read.
    static int terminal = [] {
        int master = -1, slave = -1;
        require(openpty(&master, &slave, nullptr, nullptr, nullptr) == 0, "a pseudo-terminal");
        return slave;
    }();
    static const int null_fd = open("/dev/null", O_WRONLY);
    static const bool screen_ready = [] {
        allocate_screen_cells();
        return true;
    }();
    (void)screen_ready;

    events = {data, size};
    uint8_t max = events.byte();
    int32_t buffer_size = events.byte() + 1;
    pending = {};
    ended = false;
    keyboard_source = {source_read, source_wait, source_sleep};
    tty_ring_read = tty_ring_write = tty_ring_count = 0;
    key_queue_put = key_queue_take = 0;
    tty_input_ended = input_ended = input_interrupted = false;
    input_redirected = output_redirected = false;  // the echo goes through the console
    console_out_fd = null_fd;
    cursor_column = cursor_row = 1;
    io_result = 0;

    attach_console(std_output);
    open_for_writing(std_output);
    attach_console(std_input);
    open_for_reading(std_input);
    std_input.handle = terminal;
    std_input.buf_size = buffer_size;
    std_input.transfer_op = checked_console_read;

    // Read-line statements as the installer makes them, until the input has ended.
    do {
        BoundedString answer;
        read_string(std_input, answer, max);
        read_line_end(std_input);
        require(io_result == 0, "reading answers sets no error");
    } while (!input_ended || std_input.buf_pos < std_input.buf_end);
    return 0;
}
