// Console line input: a small line editor on the keyboard when input is a terminal, one plain
// read otherwise.
#include "console/line_input.h"

#include <poll.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "console/keyboard.h"
#include "console/raw_terminal.h"
#include "console/screen_output.h"
#include "runtime/disk_file.h"
#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

bool input_ended = false;
bool input_interrupted = false;

namespace {

constexpr uint8_t interrupt = 3;      // Ctrl+C on a raw terminal
constexpr uint8_t end_of_input = 4;   // Ctrl+D
constexpr uint8_t backspace = 8;
constexpr uint8_t line_feed = 10;
constexpr uint8_t carriage_return = 13;
constexpr uint8_t escape = 27;

// Each echo is a write statement of its own, so every key shows at once.
void echo(std::string_view text) {
    if (input_redirected || output_redirected) return;
    if (text.size() == 1) {
        write_char(0, std_output, text[0]);
    } else {
        write_string(0, std_output, text);
    }
    write_end(std_output);
    check_io();
}

// A 0 from read_key with nothing left behind it after the keyboard ended is no key.
bool keyboard_gone(uint8_t key) { return key == 0 && tty_input_ended && !key_pressed(); }

void read_terminal_line(TextStream& stream) {
    // A call that filled the buffer without a line end left its line open: this call goes on
    // with the same answer, so Ctrl+D here is no empty answer.
    const bool line_open = stream.buf_end > 0 && stream.buf_end == stream.buf_size &&
                           stream.buf_ptr[stream.buf_end - 1] != line_feed;
    int32_t n = 0;
    for (;;) {
        uint8_t k = read_key();
        if (keyboard_gone(k)) break;
        if (k == end_of_input && n == 0 && !line_open) break;
        const bool special = k == 0;
        // The special key's code is dropped; no code is 3, but the key after a NUL may be.
        if (special && keyboard_gone(k = read_key())) break;
        if (k == interrupt) {
            // Never consent: whatever was typed on this line goes with it.
            input_interrupted = true;
            n = 0;
            break;
        }
        if (special) {
            // nothing stored, nothing shown
        } else if (k == backspace) {
            // Only what this call stored can be erased, never the prompt in front of it.
            if (n > 0) {
                echo("\b \b");
                n -= 1;
            }
        } else if (k == carriage_return) {
            stream.buf_ptr[n] = static_cast<char>(line_feed);
            echo("\n");
            n += 1;
        } else if (k != escape) {
            stream.buf_ptr[n] = static_cast<char>(k);
            echo(std::string_view(&stream.buf_ptr[n], 1));
            n += 1;
        }
        if (k == line_feed || k == carriage_return || n >= stream.buf_size) {
            stream.buf_end = n;
            return;
        }
    }
    // The terminal hung up, its input ended or the user stopped it: hand over what was typed,
    // and stop reading.
    input_ended = true;
    stream.buf_end = n;
}

// A CR that ended the stream's previous read was a line end; an LF that opens the next read is
// the second half of its CR LF, not a line end of its own. Kept in the driver's part of the record.
constexpr int read_ended_in_cr = 0;

// A pipe, a FIFO or a file: waited for with the signals let in, never read while they are held
// back. Input that is always ready (a file, /dev/zero) never blocks the wait, so what came in
// meanwhile is taken before each read all the same.
// False once SIGHUP has ended the input.
bool wait_for_plain_input(int32_t fd) {
    pollfd input{fd, POLLIN, 0};
    while (call_letting_signals_in(input_signals, SYS_poll, reinterpret_cast<long>(&input), 1, -1) == -1 &&
           last_os_error == EINTR) {
        act_on_signals();
        if (hang_up_noted) return false;
    }
    return true;
}

void read_plain(TextStream& stream) {
    char* buffer = stream.buf_ptr;
    int32_t n = 0;
    for (;;) {
        long got = 0;
        if (wait_for_plain_input(stream.handle)) {
            got = system_call(SYS_read, stream.handle, reinterpret_cast<long>(buffer), stream.buf_size);
            if (got == -1 && last_os_error == EINTR) continue;
        }
        n = got > 0 ? static_cast<int32_t>(got) : 0;
        if (n == 0) {
            input_ended = true;
            break;
        }
        if (stream.user_data[read_ended_in_cr] && buffer[0] == line_feed) {
            std::memmove(buffer, buffer + 1, static_cast<size_t>(n - 1));
            n -= 1;
        }
        stream.user_data[read_ended_in_cr] = 0;
        if (n > 0) break;  // a read of that LF alone brings nothing yet: read on
    }

    // A lone CR is a line end; CR LF stays a pair, which the readers take as one line end.
    for (int32_t i = 1; i < n; ++i) {
        if (buffer[i - 1] == carriage_return && buffer[i] != line_feed) buffer[i - 1] = line_feed;
    }
    if (n > 0 && buffer[n - 1] == carriage_return) {
        buffer[n - 1] = line_feed;
        stream.user_data[read_ended_in_cr] = 1;
    }
    stream.buf_end = n;
    stream.buf_pos = n;
    if (!input_redirected && !output_redirected) {
        console_write(stream);
    } else {
        stream.buf_pos = 0;
    }
}

}  // namespace

int console_read(TextStream& stream) {
    stream.buf_pos = 0;
    if (input_ended) {
        stream.buf_end = 0;  // nothing more will come: never block or read again
        return 0;
    }
    if (is_terminal(stream.handle)) {
        read_terminal_line(stream);
    } else {
        read_plain(stream);
    }
    return 0;
}

}  // namespace zuva
