#include "runtime/disk_file.h"

#include <asm/ioctls.h>
#include <sys/syscall.h>

#include "runtime/system_call.h"

namespace zuva {

uint16_t os_error_number(int32_t error) {
    switch (error) {
        case 2: return 2;      // ENOENT: file not found
        case 4: return 101;    // EINTR
        case 5: return 101;    // EIO
        case 9: return 6;      // EBADF: invalid file handle
        case 11: return 101;   // EAGAIN
        case 12: return 217;   // ENOMEM
        case 13: return 5;     // EACCES: access denied
        case 14: return 217;   // EFAULT
        case 17: return 5;     // EEXIST
        case 20: return 3;     // ENOTDIR: path not found
        case 21: return 5;     // EISDIR
        case 22: return 218;   // EINVAL
        case 23: return 4;     // ENFILE: too many open files
        case 24: return 4;     // EMFILE
        case 26: return 162;   // ETXTBSY
        case 28: return 101;   // ENOSPC
        case 30: return 5;     // EROFS
        case 32: return 101;   // EPIPE
        case 36: return 3;     // ENAMETOOLONG
        case 39: return 5;     // ENOTEMPTY
        case 40: return 3;     // ELOOP
        default: return static_cast<uint16_t>(error);
    }
}

void map_os_error() {
    if (last_os_error != 0) io_result = os_error_number(last_os_error);
}

void os_open_file(TextStream& stream) {
    stream.handle = -1;
    // Read only; a stream opened for writing creates or empties its file instead.
    long flags = stream.mode == mode_output ? 01 | 0100 | 01000 /* O_WRONLY|O_CREAT|O_TRUNC */ : 0;
    long fd = system_call(SYS_open, reinterpret_cast<long>(stream.name), flags, 0666);
    stream.handle = static_cast<int32_t>(fd);
    map_os_error();
}

namespace {

// One read or write, repeated while a signal interrupts it; a failure counts as 0 bytes.
int32_t transfer(long number, int32_t fd, long buffer, int32_t count) {
    long n;
    do {
        n = system_call(number, fd, buffer, count);
    } while (last_os_error == 4);
    map_os_error();
    return n < 0 ? 0 : static_cast<int32_t>(n);
}

}  // namespace

int32_t os_read(int32_t fd, void* destination, int32_t count) {
    return transfer(SYS_read, fd, reinterpret_cast<long>(destination), count);
}

int32_t os_write(int32_t fd, const void* source, int32_t count) {
    return transfer(SYS_write, fd, reinterpret_cast<long>(source), count);
}

void os_close(int32_t fd) { system_call(SYS_close, fd); }

bool is_terminal(int32_t fd) {
    char scratch[64];  // room for the kernel's terminal attributes
    bool yes = system_call(SYS_ioctl, fd, TCGETS, reinterpret_cast<long>(scratch)) != -1;
    last_os_error = 0;
    return yes;
}

int file_open_op(TextStream& stream) {
    os_open_file(stream);
    stream.close_op = file_close_op;
    if (stream.mode == mode_output) {
        stream.transfer_op = file_write_op;
        stream.flush_op = file_write_op;
    } else {
        stream.flush_op = nullptr;
        stream.transfer_op = file_read_op;
    }
    return 0;
}

int file_read_op(TextStream& stream) {
    stream.buf_end = os_read(stream.handle, stream.buf_ptr, stream.buf_size);
    stream.buf_pos = 0;
    return 0;
}

int file_write_op(TextStream& stream) {
    int32_t n = os_write(stream.handle, stream.buf_ptr, stream.buf_pos);
    if (n != stream.buf_pos) io_result = 101;
    stream.buf_pos = 0;
    return 0;
}

int file_close_op(TextStream& stream) {
    os_close(stream.handle);
    stream.handle = -1;
    return 0;
}

}  // namespace zuva
