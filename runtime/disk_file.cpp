#include "runtime/disk_file.h"

#include <asm/ioctls.h>
#include <sys/syscall.h>

#include <cerrno>

#include "runtime/system_call.h"

namespace zuva {

uint16_t os_error_number(int32_t error) {
    switch (error) {
        case ENOENT: return 2;  // file not found
        case EINTR: return 101;
        case EIO: return 101;
        case EBADF: return 6;  // invalid file handle
        case EAGAIN: return 101;
        case ENOMEM: return 217;
        case EACCES: return 5;  // access denied
        case EFAULT: return 217;
        case EEXIST: return 5;
        case ENOTDIR: return 3;  // path not found
        case EISDIR: return 5;
        case EINVAL: return 218;
        case ENFILE: return 4;  // too many open files
        case EMFILE: return 4;
        case ETXTBSY: return 162;
        case ENOSPC: return 101;
        case EROFS: return 5;
        case EPIPE: return 101;
        case ENAMETOOLONG: return 3;
        case ENOTEMPTY: return 5;
        case ELOOP: return 3;
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
