// Console line input: a small line editor on the keyboard when input is a terminal, one plain
// read otherwise.
#include "console/line_input.h"

#include <cerrno>
#include <string_view>
#include <unistd.h>

#include "console/keyboard.h"
#include "console/raw_terminal.h"
#include "console/screen_output.h"
#include "runtime/disk_file.h"
#include "runtime/process.h"

namespace zuva {

bool input_ended = false;

namespace {

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
    int32_t n = 0;
    for (;;) {
        uint8_t k = read_key();
        if (keyboard_gone(k)) break;
        if (k == 0) {
            k = read_key();  // the special key's code: dropped
            if (keyboard_gone(k)) break;
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
    // The terminal hung up or its input ended: hand over what was typed, and stop reading.
    input_ended = true;
    stream.buf_end = n;
}

void read_plain(TextStream& stream) {
    ssize_t got;
    do {
        got = read(stream.handle, stream.buf_ptr, static_cast<size_t>(stream.buf_size));
    } while (got < 0 && errno == EINTR);
    int32_t n = got > 0 ? static_cast<int32_t>(got) : 0;
    if (n == 0) input_ended = true;

    // A lone CR is a line end; CR LF stays a pair. A CR that ends the read stays a CR: the
    // readers join it with an LF at the start of the next read, so a pair cut by the buffer
    // never counts as two line ends.
    for (int32_t i = 1; i < n; ++i) {
        if (stream.buf_ptr[i - 1] == carriage_return && stream.buf_ptr[i] != line_feed) {
            stream.buf_ptr[i - 1] = static_cast<char>(line_feed);
        }
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
