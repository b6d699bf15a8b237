#include "console/raw_terminal.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "console/screen_output.h"
#include "runtime/command_group.h"
#include "runtime/disk_file.h"
#include "runtime/process.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

bool input_redirected = false;
struct termios saved_tty_attrs {};
bool tty_attrs_saved = false;
bool cursor_report_outstanding = false;
int cursor_report_state = 0;

namespace {

constexpr int query_timeout_ms = 1000;
constexpr size_t reply_limit = 256;
constexpr size_t reply_text_limit = 16;

// Unsigned decimal kept to a byte; anything that is not a number reads as 0.
uint8_t read_byte_number(std::string_view text) {
    if (text.empty()) return 0;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = (value * 10 + static_cast<uint32_t>(c - '0')) % 256;
    }
    return static_cast<uint8_t>(value);
}

long now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// The terminal's reply has come whole: a closing R after "ESC[" and a ";".
bool cursor_report_complete(std::string_view bytes) {
    const size_t start = bytes.find("\x1b[");
    if (start == std::string_view::npos) return false;
    const size_t semicolon = bytes.find(';', start + 2);
    return semicolon != std::string_view::npos && bytes.find('R', semicolon + 1) != std::string_view::npos;
}

bool same_terminal(int a, int b) {
    struct stat sa {}, sb {};
    if (fstat(a, &sa) != 0 || fstat(b, &sb) != 0) return false;
    return S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

}  // namespace

void set_raw_mode(bool on) {
    if (!on) {
        // Only what was really read goes back: a record of zeros would wreck the terminal.
        if (tty_attrs_saved) tcsetattr(1, TCSANOW, &saved_tty_attrs);
        return;
    }
    // Started in the background: what is found there are the shell's modes of the moment, not
    // those the installer is to give back.
    wait_for_foreground(1, SIGTTOU);
    struct termios found {};
    if (tcgetattr(1, &found) != 0) return;
    saved_tty_attrs = found;
    tty_attrs_saved = true;
    resume_raw_mode();
}

void resume_raw_mode() {
    if (!tty_attrs_saved) return;
    wait_for_foreground(1, SIGTTOU);
    struct termios raw = saved_tty_attrs;
    // One byte at a time, with no timer: a terminal left with VMIN 3 must still take Enter at once.
    // The found values come back at the exit with the rest.
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    raw.c_oflag &= ~tcflag_t(OPOST);
    raw.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag &= ~tcflag_t(CSIZE | PARENB);
    raw.c_cflag |= CS8;
    // From the background while the running command has the foreground.
    hold_terminal_stops(true);
    tcsetattr(1, TCSANOW, &raw);
    hold_terminal_stops(false);
}

void wait_for_foreground(int fd, int signal) {
    struct sigaction action {};
    sigset_t blocked;
    sigaction(signal, nullptr, &action);
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    // The kernel lets the request through then (or, for a read, fails it, as it would anyway).
    if (action.sa_handler == SIG_IGN || sigismember(&blocked, signal)) return;
    for (;;) {
        const pid_t group = tcgetpgrp(fd);
        // Not the controlling terminal, or ours, or the running command's, which has it from us.
        if (group < 0 || group == getpgrp() || (command_group != 0 && group == command_group)) return;
        // Where job control stops nothing (no shell to continue the group), go on as the kernel would.
        if (!stop_until_continued(signal)) return;
    }
}

bool terminal_held_by_others() {
    const pid_t group = tcgetpgrp(1);
    if (group <= 0 || group == getpgrp()) return false;
    return kill(-group, 0) == 0 || errno == EPERM;
}

int cursor_report_step(int state, uint8_t byte) {
    const bool digit = byte >= '0' && byte <= '9';
    switch (state) {
    case 0: return byte == 0x1b ? 1 : -1;
    case 1: return byte == '[' ? 2 : -1;
    case 2: return digit ? 3 : -1;
    case 3: return digit ? 3 : byte == ';' ? 4 : -1;
    case 4: return digit ? 5 : -1;
    case 5: return digit ? 5 : byte == 'R' ? cursor_report_whole : -1;
    default: return -1;
    }
}

void parse_cursor_report(std::string_view bytes, uint8_t& column, uint8_t& row) {
    column = 0;
    row = 0;
    size_t n = bytes.size();
    size_t i = 0;
    while (i + 5 < n && bytes[i] != '\x1b' && bytes[i + 1] != '[') ++i;
    if (i + 5 >= n) return;
    std::string_view t = bytes.substr(i + 2, reply_text_limit);
    size_t semicolon = t.find(';');
    if (semicolon == std::string_view::npos) return;
    size_t end = t.find('R');
    // Without its closing R, or with the R before the ";", the reply is not a position.
    if (end == std::string_view::npos || end < semicolon) return;
    row = read_byte_number(t.substr(0, semicolon));
    column = read_byte_number(t.substr(semicolon + 1, end - semicolon - 1));
}

void query_cursor_position(uint8_t& column, uint8_t& row) {
    column = 0;
    row = 0;
    // The query goes out on descriptor 0 and the answer is read from descriptor 1: normally
    // both are the one terminal.
    // A failed query (descriptor 0 is a pipe or a file) simply gets no answer.
    system_call(SYS_write, 0, reinterpret_cast<long>("\x1b[6n"), 4);
    drop_request_mark();  // a reply read from the background stops the installer, as a key would
    pollfd answer{1, POLLIN, 0};
    const long end = now_ms() + query_timeout_ms;
    char reply[reply_limit];
    size_t got = 0;
    // A serial line brings the reply in pieces: read on within the second until it is whole.
    // Whatever came with it (keys typed ahead) is consumed with it.
    while (got < sizeof reply && !cursor_report_complete(std::string_view(reply, got))) {
        const auto left = static_cast<int32_t>(std::max(end - now_ms(), 0L));
        // An ending signal ends the wait and the installer; any other lets the rest of it go on.
        const long ready = call_letting_signals_in(ending_signals, SYS_poll, reinterpret_cast<long>(&answer), 1, left);
        if (ready == -1 && last_os_error == EINTR) {
            if (stop_signal != 0) halt_program();
            continue;
        }
        if (ready <= 0) break;
        const long n = system_call(SYS_read, 1, reinterpret_cast<long>(reply + got), sizeof reply - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    cursor_report_outstanding = !cursor_report_complete(std::string_view(reply, got));
    // A reply cut off by the second: the keyboard drops the rest of it when it comes.
    cursor_report_state = 0;
    for (size_t i = got; cursor_report_outstanding && i > 0; --i) {
        if (reply[i - 1] != '\x1b') continue;
        for (size_t k = i - 1; k < got && cursor_report_state >= 0; ++k)
            cursor_report_state = cursor_report_step(cursor_report_state, static_cast<uint8_t>(reply[k]));
        if (cursor_report_state < 0) cursor_report_state = 0;
        break;
    }
    parse_cursor_report(std::string_view(reply, got), column, row);
}

bool find_input_redirected() {
    if (!is_terminal(0)) return true;
    return !output_redirected && !same_terminal(0, 1);
}

}  // namespace zuva
