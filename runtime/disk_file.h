// The disk driver: the default driver of every text stream, over plain descriptors and files.
#pragma once

#include <cstdint>

#include "runtime/text_stream.h"

namespace zuva {

int file_open_op(TextStream& stream);
int file_read_op(TextStream& stream);
int file_write_op(TextStream& stream);
int file_close_op(TextStream& stream);

void os_open_file(TextStream& stream);
int32_t os_read(int32_t fd, void* destination, int32_t count);
int32_t os_write(int32_t fd, const void* source, int32_t count);
void os_close(int32_t fd);

bool is_terminal(int32_t fd);

// Turns a non-zero last_os_error into its io_result number.
void map_os_error();
uint16_t os_error_number(int32_t error);

}  // namespace zuva
