// Runs the console's start-up and exit inside a real process and records what it found:
//   console_startup_probe REPORT ACTION [COLUMNS ROWS]
// COLUMNS ROWS, when given, are set as the terminal's window size before start-up.
// ACTION: end (stop at once), wait (show "ready", end at the first key), error (show "ready",
// end with run-time error 2 at the first key), pause (show "ready", wait for a signal), draw (draw a test screen, end
// at the first key), corner (write past the bottom right corner, then end). An ACTION
// prefixed with "stop-" first stops the probe, so that a test can read the terminal untouched.
// REPORT gets "start WIDTH HEIGHT COLUMN ROW OUT_REDIRECTED IN_REDIRECTED CELLS MS" after
// start-up and "exit OUT_COUNT CELLS_RELEASED" from a finaliser that runs after console_exit.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "console/colours.h"
#include "console/raw_terminal.h"
#include "console/screen_output.h"
#include "console/startup.h"
#include "runtime/process.h"
#include "runtime/text_stream.h"

namespace {

// Formats without the allocator: the finaliser may run from the fault handler.
struct Line {
    char text[160];
    int length = 0;
    void add(std::string_view s) {
        for (char c : s)
            if (length < int(sizeof text)) text[length++] = c;
    }
    void add(long n) {
        char digits[24];
        int count = 0;
        unsigned long v = n < 0 ? 0 : static_cast<unsigned long>(n);
        do {
            digits[count++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        add(" ");
        while (count > 0) add(std::string_view(&digits[--count], 1));
    }
};

void report(const Line& line) {
    int fd = open(zuva::saved_argv[1], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    [[maybe_unused]] ssize_t n = write(fd, line.text, static_cast<size_t>(line.length));
    close(fd);
}

void after_console_exit() {
    Line line;
    line.add("exit");
    line.add(zuva::out_count);
    line.add(zuva::screen_cells == nullptr ? 1 : 0);
    line.add("\n");
    report(line);
}

long now_ms() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

void say(std::string_view text) {
    zuva::write_string(0, zuva::std_output, text);
    zuva::write_end(zuva::std_output);
    zuva::check_io();
}

void wait_for_key() {
    char key;
    [[maybe_unused]] ssize_t n = read(0, &key, 1);
}

void draw_test_screen() {
    zuva::set_text_colour(7);
    zuva::set_text_background(0);
    zuva::clear_screen();
    zuva::set_text_background(7);
    zuva::set_text_colour(0);
    for (uint8_t row : {9, 10, 11}) {
        zuva::goto_xy(20, row);
        say(row == 10 ? "|  Hello!  |" : "+----------+");
    }
    zuva::set_text_colour(14);
    zuva::set_text_background(1);
    zuva::goto_xy(1, 25);
    say("bottom");
    zuva::set_text_colour(7);
    zuva::set_text_background(0);
    zuva::goto_xy(75, 3);
    say("wrapping over");
    say("\x1b[1;31mred\x1b[m");
}

void probe_main() {
    std::string_view action = zuva::saved_argv[2];
    if (action.starts_with("stop-")) {
        action.remove_prefix(5);
        kill(getpid(), SIGSTOP);
    }
    if (zuva::saved_argc >= 5) {
        struct winsize size {};
        size.ws_col = static_cast<unsigned short>(std::atoi(zuva::saved_argv[3]));
        size.ws_row = static_cast<unsigned short>(std::atoi(zuva::saved_argv[4]));
        ioctl(1, TIOCSWINSZ, &size);
    }
    long started = now_ms();
    zuva::init_modules();
    long took = now_ms() - started;

    Line line;
    line.add("start");
    for (long value : {long(zuva::screen_width), long(zuva::screen_height), long(zuva::cursor_column),
                       long(zuva::cursor_row), long(zuva::output_redirected), long(zuva::input_redirected),
                       long(zuva::screen_cell_count), took})
        line.add(value);
    line.add("\n");
    report(line);

    if (action == "wait" || action == "error") {
        say("ready");
        wait_for_key();
        if (action == "error") zuva::io_result = 2;
        zuva::check_io();
    } else if (action == "pause") {
        say("ready");
        for (;;) pause();
    } else if (action == "draw") {
        draw_test_screen();
        wait_for_key();
    } else if (action == "corner") {
        zuva::goto_xy(static_cast<uint8_t>(zuva::screen_width), static_cast<uint8_t>(zuva::screen_height));
        say("XYZ\tend\n");
    }
    zuva::halt_program();
}

}  // namespace

namespace zuva {

const Module module_table[module_count] = {
    {runtime_core_init, nullptr},
    {nullptr, after_console_exit},
    {console_start, console_exit},
};

}  // namespace zuva

int main(int argc, char** argv, char** envp) {
    if (argc < 3) return 64;
    zuva::process_entry(argc, argv, envp, probe_main);
}
