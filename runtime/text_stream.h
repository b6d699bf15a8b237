// Text streams: a small buffer, a mode, a descriptor and four replaceable driver operations.
#pragma once

#include <cstdint>

#include "runtime/bounded_string.h"

namespace zuva {

struct TextStream;

// A driver operation; its result is not used by the generic operations (drivers return 0).
using DriverOp = int (*)(TextStream&);

constexpr int32_t mode_closed = 0xD7B0;
constexpr int32_t mode_input = 0xD7B1;
constexpr int32_t mode_output = 0xD7B2;

constexpr int32_t stream_buffer_size = 256;

struct TextStream {
    int32_t handle = -1;
    int32_t mode = 0;  // 0: never bound
    int32_t buf_size = 0;
    int32_t reserved = 0;
    int32_t buf_pos = 0;
    int32_t buf_end = 0;
    char* buf_ptr = nullptr;
    DriverOp open_op = nullptr;
    DriverOp transfer_op = nullptr;
    DriverOp flush_op = nullptr;
    DriverOp close_op = nullptr;
    uint8_t user_data[16] = {};
    char name[256] = {};
    char buffer[stream_buffer_size] = {};
};

// The pending input/output result, 0 when no failure is pending; only check_io clears it.
extern uint16_t io_result;

// Set by read_line_end: true when it stopped at a line end, false when the data ran out first.
// The dialogue uses it to tell an answered question from input that ended.
extern bool line_end_read;

extern TextStream std_input;
extern TextStream std_output;
extern TextStream plain_output;
extern TextStream plain_error;

void bind_stream(TextStream& stream, const BoundedString& name);
void open_standard_stream(TextStream& stream, int32_t mode, int32_t handle);
// Creates the four standard streams on descriptors 0, 1, 1, 2 and clears io_result.
void open_standard_streams();

void open_stream(TextStream& stream, int32_t requested);
void open_for_reading(TextStream& stream);
void open_for_writing(TextStream& stream);
void close_stream(TextStream& stream);

void put_bytes(TextStream& stream, const char* source, int32_t count);
void put_blanks(TextStream& stream, int32_t count);

void write_string(int32_t width, TextStream& stream, const BoundedString& text);
void write_string(int32_t width, TextStream& stream, std::string_view text);
void write_char(int32_t width, TextStream& stream, char c);
void write_integer(int32_t width, TextStream& stream, int32_t value);
void write_end(TextStream& stream);
void write_line_end(TextStream& stream);

void read_string(TextStream& stream, BoundedString& destination, uint8_t max);
// The same, with the destination's own declared maximum.
void read_string(TextStream& stream, BoundedString& destination);
void read_line_end(TextStream& stream);
bool at_end_of_file(TextStream& stream);

}  // namespace zuva
