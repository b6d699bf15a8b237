#include "console/startup.h"

#include <sys/ioctl.h>

#include "console/colours.h"
#include "console/line_input.h"
#include "console/raw_terminal.h"
#include "console/screen_output.h"
#include "runtime/disk_file.h"
#include "runtime/process.h"
#include "runtime/stop_signals.h"

namespace zuva {

namespace {

int console_close(TextStream& stream) {
    stream.mode = mode_closed;
    return 0;
}

int console_no_flush(TextStream&) { return 0; }

// The cursor reported by the terminal, if it is a place on the screen at all.
bool usable_position(uint8_t column, uint8_t row) {
    return column >= 1 && column <= screen_width && row >= 1 && row <= screen_height;
}

// Paused from outside: the terminal as it was found, in its default colours, until taken up again.
void give_terminal_back() {
    if (output_redirected) return;
    // Paused in a write the terminal does not take: only the modes, which need no output.
    if (sent_attr != 7 && !output_in_progress) {
        send_text("\x1b[m");
        sent_attr = 7;  // the next output brings the dialogue's colours back
    }
    if (!output_in_progress) flush_output();
    set_raw_mode(false);
}

void take_terminal_again() {
    if (output_redirected) return;
    resume_raw_mode();
    // Whatever the shell wrote meanwhile, the cursor goes back to where the dialogue has it.
    if (!output_in_progress) resend_cursor();
}

}  // namespace

void attach_console(TextStream& stream) {
    bind_stream(stream, BoundedString{});
    stream.open_op = console_open;
}

int console_open(TextStream& stream) {
    if (stream.mode == mode_output) {
        stream.transfer_op = console_write;
        stream.flush_op = console_write;
    } else {
        stream.mode = mode_input;
        stream.transfer_op = console_read;
        stream.flush_op = console_no_flush;
    }
    stream.close_op = console_close;
    return 0;
}

void setup_screen() {
    release_screen_cells();
    screen_width = 80;
    screen_height = 25;
    struct winsize size {};
    // A terminal that reports no size (0 columns or rows) counts as one that reports none.
    if (!output_redirected && ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        // Positions are single bytes: the model stops at what they can address.
        screen_width = size.ws_col < max_screen_side ? size.ws_col : max_screen_side;
        screen_height = size.ws_row < max_screen_side ? size.ws_row : max_screen_side;
    }
    allocate_screen_cells();
}

void console_start() {
    attach_console(std_output);
    open_for_writing(std_output);
    check_io();
    std_output.handle = 1;

    attach_console(std_input);
    open_for_reading(std_input);
    check_io();
    std_input.handle = 0;

    output_redirected = !is_terminal(1);
    input_redirected = find_input_redirected();
    setup_screen();
    window_left = 1;
    window_top = 1;
    window_right = screen_width;
    window_bottom = screen_height;

    if (output_redirected) {
        cursor_column = 1;
        cursor_row = 1;
        return;
    }
    set_raw_mode(true);
    uint8_t column = 0, row = 0;
    query_cursor_position(column, row);
    if (usable_position(column, row)) {
        cursor_column = column;
        cursor_row = row;
    } else {
        // Unknown or off the screen: put the terminal's cursor where the model says it is.
        cursor_column = 1;
        cursor_row = 1;
        send_text("\x1b[H");
    }
    send_text("\x1b[m");
    before_pause = give_terminal_back;
    after_pause = take_terminal_again;
}

void console_exit() {
    // Runs on every end, from the fault handler too: only system calls, no allocation.
    if (!output_redirected && terminal_held_by_others()) {
        // Stopped, then ended from the shell that has the terminal now: the screen and the modes
        // are the shell's, and the installer gave its own back when it stopped.
        out_count = 0;
    } else {
        if (stop_signal != 0) {
            // Ended from outside: the screen left as the dialogue's own endings leave it.
            apply_attr(0x07);
            clear_screen();
        }
        flush_output();
        set_raw_mode(false);
    }
    release_screen_cells();
}

}  // namespace zuva
