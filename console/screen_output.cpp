#include "console/screen_output.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "console/colours.h"
#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

int32_t screen_width = 80, screen_height = 25;
uint8_t cursor_column = 1, cursor_row = 1;
int32_t window_left = 1, window_top = 1, window_right = 80, window_bottom = 25;
uint8_t* screen_cells = nullptr;
int32_t screen_cell_count = 0;
char out_buffer[out_buffer_size];
int32_t out_count = 0;
bool auto_flush = true;
bool escape_pending = false;
BoundedString escape_text;
bool output_redirected = false;
int32_t console_out_fd = 1;
bool output_in_progress = false;

namespace {

constexpr char esc = 0x1B;
constexpr int32_t tab_width = 8;  // tab stops every eight columns, as terminals keep them
constexpr int32_t chunk_size = 255;

void append_char(BoundedString& s, char c) { append(s, std::string_view(&c, 1)); }

void append_number(BoundedString& s, int32_t n) {
    char digits[12];
    int count = 0;
    uint32_t v = n < 0 ? 0 : static_cast<uint32_t>(n);
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (count > 0) append_char(s, digits[--count]);
}

// Bytes that may stand inside an escape sequence; the first other byte ends it.
bool is_sequence_byte(char c) {
    return c == esc || c == '[' || c == ';' || c == '?' || (c >= '0' && c <= '9');
}

// Whatever the tracked cursor says, nothing is stored outside the block.
void store_cell(char c) {
    if (screen_cells == nullptr) return;
    if (cursor_column < 1 || cursor_column > screen_width) return;
    if (cursor_row < 1 || cursor_row > screen_height) return;
    int64_t index = int64_t(cursor_row - 1) * screen_width + (cursor_column - 1);
    if (index >= screen_cell_count) return;
    screen_cells[2 * index] = static_cast<uint8_t>(c);
    screen_cells[2 * index + 1] = text_attr;
}

// Printable bytes from the cursor on, broken at the right edge of the region.
void write_run(const char* run, int32_t length) {
    while (length > 0) {
        // A cursor tracked beyond the edge still takes one byte at a time, never zero.
        int32_t room = std::max(window_right - cursor_column + 1, 1);
        if (length > room) {
            put_cells(std::string_view(run, static_cast<size_t>(room)));
            if (!output_redirected) line_feed();
            run += room;
            length -= room;
        } else {
            put_cells(std::string_view(run, static_cast<size_t>(length)));
            length = 0;
        }
    }
}

// The next numeric parameter of an escape sequence; pos walks through text as they are read.
uint8_t next_parameter(std::string_view text, size_t& pos) {
    if (pos >= text.size()) return 1;
    size_t end = text.find(';', pos);
    size_t next = end + 1;
    if (end == std::string_view::npos) {
        end = text.size() - 1;  // the terminator
        next = text.size();
    }
    std::string_view field = text.substr(pos, end - pos);
    pos = next;
    uint32_t value = 0;
    bool nonzero = false;
    for (char c : field) {
        if (c < '0' || c > '9') return 1;  // not a number: 0, which reads as 1
        value = (value * 10 + static_cast<uint32_t>(c - '0')) % 256;
        nonzero = nonzero || c != '0';
    }
    return nonzero ? static_cast<uint8_t>(value) : 1;
}

// Acts on a complete sequence in escape_text; false when its terminator is not one we know.
bool act_on_escape(char terminator) {
    std::string_view text = view(escape_text);
    size_t pos = 2;  // parameters start after ESC [
    switch (terminator) {
    case 'A': {
        int32_t n = next_parameter(text, pos);
        goto_xy(cursor_column, static_cast<uint8_t>(std::max(cursor_row - n, window_top)));
        return true;
    }
    case 'B': {
        int32_t n = next_parameter(text, pos);
        goto_xy(cursor_column, static_cast<uint8_t>(std::min(cursor_row + n, window_bottom)));
        return true;
    }
    case 'C': {
        int32_t n = next_parameter(text, pos);
        goto_xy(static_cast<uint8_t>(std::min(cursor_column + n, window_right)), cursor_row);
        return true;
    }
    case 'D': {
        int32_t n = next_parameter(text, pos);
        goto_xy(static_cast<uint8_t>(std::max(cursor_column - n, window_left)), cursor_row);
        return true;
    }
    case 'H': {
        uint8_t row = next_parameter(text, pos);
        uint8_t column = next_parameter(text, pos);
        goto_xy(column, row);
        return true;
    }
    case 'J':
        if (next_parameter(text, pos) == 2) clear_screen();
        return true;
    case 'K':
        clear_to_eol();
        return true;
    case 'h':
        return true;
    case 'm':
        apply_attr(parse_colour_sequence(text, text_attr));
        return true;
    default:
        return false;
    }
}

}  // namespace

void send_text(std::string_view text) {
    while (!text.empty()) {
        size_t n = std::min(text.size(), static_cast<size_t>(out_buffer_size - out_count));
        std::memcpy(out_buffer + out_count, text.data(), n);
        out_count += static_cast<int32_t>(n);
        text.remove_prefix(n);
        if (out_count == out_buffer_size) flush_output();
    }
    if (auto_flush) flush_output();
}

namespace {

// After an ending signal nothing waits for the terminal any more: the rest goes out as far as it
// is taken at once, a byte at a time, each only when the descriptor says it takes one.
long write_without_waiting(int32_t fd, const char* bytes) {
    pollfd out{fd, POLLOUT, 0};
    if (system_call(SYS_poll, reinterpret_cast<long>(&out), 1, 0) != 1 || !(out.revents & POLLOUT)) return -1;
    return system_call(SYS_write, fd, reinterpret_cast<long>(bytes), 1);
}

}  // namespace

void flush_output() {
    if (out_count <= 0) return;
    const char* rest = out_buffer;
    size_t left = static_cast<size_t>(out_count);
    out_count = 0;
    const int32_t fd = console_out_fd;
    output_in_progress = true;
    // Failures are not reported, but a short write does not lose the tail of the output. A
    // terminal or pipe that takes nothing is waited for with the ending signals and SIGTSTP let in.
    while (left > 0) {
        // Ended from outside: the exit path gives the attributes back (that needs no output)
        // and writes what still goes.
        if (stop_signal != 0 && !exit_in_progress) halt_program();
        const uint64_t signals = exit_in_progress || pause_in_progress ? ending_signals : output_signals;
        long n = stop_signal != 0 ? write_without_waiting(fd, rest)
                                  : call_letting_signals_in(signals, SYS_write, fd, reinterpret_cast<long>(rest),
                                                            static_cast<long>(left));
        if (n > 0) {
            rest += n;
            left -= static_cast<size_t>(n);
        } else if (n < 0 && last_os_error == EINTR) {
            // Paused meanwhile: the rest follows once continued.
            act_on_signals();
        } else {
            break;
        }
    }
    output_in_progress = false;
}

bool set_auto_flush(bool on) {
    bool previous = auto_flush;
    auto_flush = on;
    if (on) flush_output();
    return previous;
}

BoundedString move_sequence(int32_t x, int32_t y, int32_t old_x, int32_t old_y) {
    BoundedString s;
    if (y == old_y) {
        if (x == old_x) return s;
        if (x == 1) {
            append_char(s, '\r');
            return s;
        }
        append(s, "\x1b[");
        append_number(s, x > old_x ? x - old_x : old_x - x);
        append_char(s, x > old_x ? 'C' : 'D');
        return s;
    }
    if (x == old_x) {
        append(s, "\x1b[");
        append_number(s, y > old_y ? y - old_y : old_y - y);
        append_char(s, y > old_y ? 'B' : 'A');
        return s;
    }
    if (x == 1 && y == old_y + 1) {
        append(s, "\r\n");
        return s;
    }
    append(s, "\x1b[");
    append_number(s, y);
    append_char(s, ';');
    append_number(s, x);
    append_char(s, 'H');
    return s;
}

void move_cursor(int32_t x, int32_t y) {
    if (output_redirected) {
        // A file has no cursor: only a step to the next row shows, as a new line.
        if (y - cursor_row == 1) send_text("\n");
    } else {
        BoundedString s = move_sequence(x, y, cursor_column, cursor_row);
        send_text(view(s));
    }
    cursor_column = static_cast<uint8_t>(x);
    cursor_row = static_cast<uint8_t>(y);
}

void goto_xy(uint8_t column, uint8_t row) {
    if (column < 1 || column > window_right - window_left + 1) return;
    if (row < 1 || row > window_bottom - window_top + 1) return;
    move_cursor(column + window_left - 1, row + window_top - 1);
}

void resend_cursor() {
    if (output_redirected) return;
    BoundedString s = bounded("\x1b[");
    append_number(s, cursor_row);
    append_char(s, ';');
    append_number(s, cursor_column);
    append_char(s, 'H');
    send_text(view(s));
}

void clear_screen() {
    // The colour change and the clear leave together, in one write.
    bool previous = set_auto_flush(false);
    sync_text_attr();
    if (!output_redirected) send_text("\x1b[H\x1b[2J");
    cursor_column = 1;
    cursor_row = 1;
    for (int32_t i = 0; screen_cells != nullptr && i < screen_cell_count; ++i) {
        screen_cells[2 * i] = ' ';
        screen_cells[2 * i + 1] = text_attr;
    }
    set_auto_flush(previous);
}

void clear_to_eol() {
    bool previous = set_auto_flush(false);
    sync_text_attr();
    if (!output_redirected) send_text("\x1b[K");
    set_auto_flush(previous);
}

void put_cells(std::string_view text) {
    send_text(text);
    for (char c : text) {
        if (c == '\b') {
            if (cursor_column > 1) --cursor_column;
            continue;
        }
        store_cell(c);
        if (cursor_column < screen_width && cursor_column < max_screen_side) ++cursor_column;
    }
}

void line_feed() {
    if (cursor_row >= window_bottom) {
        // The terminal scrolls; the cell copy does not.
        send_text("\r\n");
        cursor_column = static_cast<uint8_t>(window_left);
    } else {
        move_cursor(window_left, cursor_row + 1);
    }
}

void allocate_screen_cells() {
    release_screen_cells();
    int64_t cells = int64_t(std::max(screen_width, 0)) * std::max(screen_height, 0);
    if (cells == 0) return;
    // Mapped rather than taken from the heap, so that the exit path may give it back from a
    // fault handler; a fresh mapping is zero-filled.
    void* block = mmap(nullptr, static_cast<size_t>(cells) * 2, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    screen_cells = static_cast<uint8_t*>(block);
    screen_cell_count = static_cast<int32_t>(cells);
}

void release_screen_cells() {
    if (screen_cells != nullptr) munmap(screen_cells, static_cast<size_t>(screen_cell_count) * 2);
    screen_cells = nullptr;
    screen_cell_count = 0;
}

int console_write(TextStream& stream) {
    bool previous = set_auto_flush(false);
    const char* next = stream.buf_ptr;
    if (next == nullptr) stream.buf_pos = 0;
    while (stream.buf_pos > 0) {
        int32_t n = std::min(stream.buf_pos, chunk_size);
        write_console_text(next, n);
        next += n;
        stream.buf_pos -= n;
    }
    set_auto_flush(previous);
    return 0;
}

void write_console_text(const char* chunk, int32_t length) {
    bool previous = set_auto_flush(false);
    sync_text_attr();
    int32_t run_start = 0;  // first printable byte not yet written
    int32_t i = 0;
    while (i < length) {
        char b = chunk[i];
        if (b == esc || escape_pending) {
            write_run(chunk + run_start, i - run_start);
            escape_pending = false;
            int32_t end = i;
            while (end < length && is_sequence_byte(chunk[end])) ++end;
            if (end == length) {
                // Cut off by the end of the chunk: the next chunk carries on with it.
                append(escape_text, std::string_view(chunk + i, static_cast<size_t>(length - i)));
                escape_pending = true;
                run_start = i = length;
                break;
            }
            append(escape_text, std::string_view(chunk + i, static_cast<size_t>(end - i + 1)));
            bool known = act_on_escape(chunk[end]);
            escape_text.length = 0;
            // An unknown sequence goes out as text: its first byte starts a printable run.
            run_start = known ? end + 1 : i;
            i = known ? end + 1 : i + 1;
            continue;
        }
        switch (b) {
        case '\b':
            write_run(chunk + run_start, i - run_start);
            put_cells("\b");
            run_start = i + 1;
            break;
        case '\t': {
            write_run(chunk + run_start, i - run_start);
            int32_t column = std::max<int32_t>(cursor_column, 1);
            put_cells(std::string_view("        ", static_cast<size_t>(tab_width - (column - 1) % tab_width)));
            run_start = i + 1;
            break;
        }
        case '\n':
            write_run(chunk + run_start, i - run_start);
            line_feed();
            run_start = i + 1;
            break;
        case '\r':
            write_run(chunk + run_start, i - run_start);
            move_cursor(window_left, cursor_row);
            run_start = i + 1;
            break;
        default:
            break;
        }
        ++i;
    }
    write_run(chunk + run_start, length - run_start);
    set_auto_flush(previous);
}

}  // namespace zuva
