#include "runtime/text_stream.h"

#include <cstring>

#include "runtime/disk_file.h"
#include "runtime/process.h"

namespace zuva {

uint16_t io_result = 0;
bool line_end_read = false;

TextStream std_input;
TextStream std_output;
TextStream plain_output;
TextStream plain_error;

namespace {

constexpr char line_feed = 10;
constexpr char carriage_return = 13;

bool is_open(const TextStream& s) { return s.mode == mode_input || s.mode == mode_output; }

}  // namespace

void bind_stream(TextStream& stream, const BoundedString& name) {
    std::memset(static_cast<void*>(&stream), 0, sizeof stream);
    stream.handle = -1;
    stream.mode = mode_closed;
    stream.buf_size = stream_buffer_size;
    stream.buf_ptr = stream.buffer;
    stream.open_op = file_open_op;
    std::memcpy(stream.name, name.chars, name.length);
}

void open_standard_stream(TextStream& stream, int32_t mode, int32_t handle) {
    bind_stream(stream, bounded(""));
    stream.handle = handle;
    stream.mode = mode;
    stream.close_op = file_close_op;
    if (mode == mode_input) {
        stream.transfer_op = file_read_op;
    } else if (mode == mode_output) {
        stream.transfer_op = file_write_op;
        stream.flush_op = file_write_op;
    } else {
        run_error(102);
    }
}

void open_standard_streams() {
    open_standard_stream(std_input, mode_input, 0);
    open_standard_stream(std_output, mode_output, 1);
    open_standard_stream(plain_output, mode_output, 1);
    open_standard_stream(plain_error, mode_output, 2);
    io_result = 0;
}

void open_stream(TextStream& stream, int32_t requested) {
    if (is_open(stream)) {
        close_stream(stream);
    } else if (stream.mode != mode_closed) {
        io_result = 102;
        return;
    }
    stream.mode = requested;
    stream.buf_pos = 0;
    stream.buf_end = 0;
    stream.open_op(stream);
    if (io_result != 0) stream.mode = mode_closed;
}

void open_for_reading(TextStream& stream) {
    if (io_result == 0) open_stream(stream, mode_input);
}

void open_for_writing(TextStream& stream) {
    if (io_result == 0) open_stream(stream, mode_output);
}

void close_stream(TextStream& stream) {
    if (io_result != 0) return;
    if (!is_open(stream)) {
        io_result = 103;
        return;
    }
    if (stream.mode == mode_output) stream.transfer_op(stream);
    if (stream.handle < 0 || stream.handle > 2) stream.close_op(stream);
    stream.mode = mode_closed;
    stream.buf_pos = 0;
    stream.buf_end = 0;
}

void put_bytes(TextStream& stream, const char* source, int32_t count) {
    int32_t room = stream.buf_size - stream.buf_pos;
    while (count > room) {
        std::memcpy(stream.buf_ptr + stream.buf_pos, source, static_cast<size_t>(room));
        stream.buf_pos += room;
        source += room;
        count -= room;
        stream.transfer_op(stream);
        room = stream.buf_size - stream.buf_pos;
    }
    std::memcpy(stream.buf_ptr + stream.buf_pos, source, static_cast<size_t>(count));
    stream.buf_pos += count;
}

void put_blanks(TextStream& stream, int32_t count) {
    static const char blanks[64] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    while (count > 0) {
        int32_t n = count < 64 ? count : 64;
        put_bytes(stream, blanks, n);
        count -= n;
    }
}

void write_string(int32_t width, TextStream& stream, std::string_view text) {
    if (io_result != 0) return;
    if (stream.mode == mode_input) {
        io_result = 105;
        return;
    }
    if (stream.mode != mode_output) {
        io_result = 103;
        return;
    }
    int32_t length = static_cast<int32_t>(text.size());
    if (length < width) put_blanks(stream, width - length);
    put_bytes(stream, text.data(), length);
}

void write_string(int32_t width, TextStream& stream, const BoundedString& text) {
    write_string(width, stream, view(text));
}

void write_char(int32_t width, TextStream& stream, char c) {
    if (io_result != 0) return;
    if (stream.mode == mode_closed) {
        io_result = 103;
        return;
    }
    if (stream.mode != mode_output) {
        io_result = 105;
        return;
    }
    if (width > 1) put_blanks(stream, width - 1);
    if (stream.buf_pos + 1 >= stream.buf_size) stream.transfer_op(stream);
    stream.buf_ptr[stream.buf_pos] = c;
    stream.buf_pos += 1;
}

void write_integer(int32_t width, TextStream& stream, int32_t value) {
    if (io_result != 0) return;
    char digits[12];
    int n = 0;
    // Work on the negative magnitude so that the smallest value needs no special case.
    int32_t v = value < 0 ? value : -value;
    do {
        digits[n++] = static_cast<char>('0' - v % 10);
        v /= 10;
    } while (v != 0);
    char text[12];
    int length = 0;
    if (value < 0) text[length++] = '-';
    while (n > 0) text[length++] = digits[--n];
    write_string(width, stream, std::string_view(text, static_cast<size_t>(length)));
}

void write_end(TextStream& stream) {
    if (stream.flush_op) stream.flush_op(stream);
}

void write_line_end(TextStream& stream) {
    if (io_result != 0) return;
    if (stream.mode == mode_input) {
        io_result = 105;
        return;
    }
    if (stream.mode != mode_output) {
        io_result = 103;
        return;
    }
    put_bytes(stream, &line_feed, 1);
    if (stream.flush_op) stream.flush_op(stream);
}

void read_string(TextStream& stream, BoundedString& destination, uint8_t max) {
    int32_t count = 0;
    destination.length = 0;
    if (io_result != 0) return;
    if (stream.mode != mode_input) {
        io_result = stream.mode == mode_output ? 104 : 103;
        return;
    }
    // Never store beyond what the destination can hold, whatever max the caller gave.
    if (max > destination.max) max = destination.max;
    for (;;) {
        if (stream.buf_pos >= stream.buf_end) {
            stream.transfer_op(stream);
            if (stream.buf_pos >= stream.buf_end) break;
        }
        int32_t limit = stream.buf_end;
        if (stream.buf_end - stream.buf_pos > max - count) limit = stream.buf_pos + (max - count);
        int32_t start = stream.buf_pos;
        int32_t p = start;
        while (p < limit && stream.buf_ptr[p] != line_feed && stream.buf_ptr[p] != carriage_return) ++p;
        std::memcpy(destination.chars + count, stream.buf_ptr + start, static_cast<size_t>(p - start));
        count += p - start;
        stream.buf_pos = p;
        if (count == max) break;
        if (p < limit) break;  // stopped at a line end
    }
    destination.length = static_cast<uint8_t>(count);
}

void read_string(TextStream& stream, BoundedString& destination) {
    read_string(stream, destination, destination.max);
}

namespace {

// A refill that brings nothing ends the line quietly; true when bytes are there.
bool refill(TextStream& stream) {
    if (stream.buf_pos < stream.buf_end) return true;
    stream.transfer_op(stream);
    if (stream.buf_pos < stream.buf_end) return true;
    if (stream.flush_op) stream.flush_op(stream);
    return false;
}

}  // namespace

void read_line_end(TextStream& stream) {
    line_end_read = false;
    if (io_result != 0) return;
    if (stream.mode != mode_input) {
        io_result = stream.mode == mode_output ? 104 : 103;
        return;
    }
    if (!refill(stream)) return;
    for (;;) {
        char c = stream.buf_ptr[stream.buf_pos];
        stream.buf_pos += 1;
        if (c == line_feed) {
            line_end_read = true;
            return;
        }
        if (!refill(stream)) {
            line_end_read = c == carriage_return;
            return;
        }
        if (c == carriage_return) {
            if (stream.buf_ptr[stream.buf_pos] == line_feed) stream.buf_pos += 1;
            line_end_read = true;
            return;
        }
    }
}

bool at_end_of_file(TextStream& stream) {
    if (io_result != 0) return true;
    if (stream.mode != mode_input) {
        io_result = stream.mode == mode_output ? 104 : 103;
        return true;
    }
    if (stream.buf_pos < stream.buf_end) return false;
    stream.transfer_op(stream);
    return stream.buf_pos >= stream.buf_end;
}

}  // namespace zuva
