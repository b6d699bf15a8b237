// Runs a program on a Linux console and reports what that console shows: the live system on
// the ZUVA CD runs the installer through it, so that whoever drives the machine from outside
// (the system test, the try command) sees the real console's cells, colours and cursor.
//
//   zuva-console-report [--screens-only] TTY VCSA PORT PROGRAM [ARGS...]
//   zuva-console-report --drain PORT
//
// PROGRAM runs in a session of its own with TTY as its controlling terminal and standard
// streams, and with the signals' default actions. While it runs, every change of VCSA (the
// console's cells and cursor, checked every 50 ms) goes to the serial line PORT as
// "SCREEN <base64>", the last one after the program's end included; VCSA "-" (a serial line
// has no cells) sends no screens. Then, unless --screens-only, "TERMINAL-ATTRS <before> <after>"
// (TTY's input, output, control and local modes in hex, iflag:oflag:cflag:lflag, before the
// program started and after it ended: equal when it gave its terminal back as it found it) and
// "INSTALLER-EXIT <status>" or "INSTALLER-SIGNAL <number>". PORT "-" reports nothing. The exit
// status is the program's (128 + the signal's number after a signal). With --screens-only (the
// live shell's reporter) a hang-up or SIGTERM, as the machine's end sends them, stops the report
// after the line being written, never within it.
// --drain waits until everything written to the serial line PORT has gone out: before the
// machine's power goes, which would cut off what a line still holds.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += digits[v >> shift & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) return false;
        done += n;
    }
    return true;
}

std::string read_screen(int fd) {
    char buffer[65536];
    ssize_t n = pread(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, n) : std::string();
}

// iflag:oflag:cflag:lflag in hex; "-" when they cannot be read.
std::string terminal_attrs(int fd) {
    termios mode;
    if (fd < 0 || tcgetattr(fd, &mode) != 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%x:%x:%x:%x", mode.c_iflag, mode.c_oflag, mode.c_cflag, mode.c_lflag);
    return text;
}

volatile sig_atomic_t end_asked = 0;

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--drain") {
        const int line = open(argv[2], O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return line >= 0 && tcdrain(line) == 0 ? 0 : 1;
    }
    bool screens_only = argc > 1 && std::string(argv[1]) == "--screens-only";
    if (screens_only) {
        --argc;
        ++argv;
    }
    if (argc < 5) {
        std::fprintf(stderr, "usage: zuva-console-report [--screens-only] TTY VCSA PORT PROGRAM [ARGS...]\n");
        return 2;
    }
    const char* tty = argv[1];
    const char* vcsa = argv[2];
    std::string port_name = argv[3];

    int port = -1;
    if (port_name != "-") {
        port = open(port_name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (port < 0) {
            std::perror(port_name.c_str());
            return 125;
        }
        // Bytes as they are: no LF to CR LF, no flow control.
        termios mode;
        if (tcgetattr(port, &mode) == 0) {
            cfmakeraw(&mode);
            cfsetspeed(&mode, B115200);
            mode.c_cflag |= CLOCAL;
            tcsetattr(port, TCSANOW, &mode);
        }
    }
    const bool cells = std::string(vcsa) != "-";
    int screen = cells ? open(vcsa, O_RDONLY | O_CLOEXEC) : -1;
    if (port >= 0 && cells && screen < 0) {
        std::perror(vcsa);
        return 125;
    }

    // The terminal's modes as the program finds them, to compare with those it leaves.
    const int terminal = open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const std::string attrs_before = terminal_attrs(terminal);

    pid_t child = fork();
    if (child < 0) return 125;
    if (child == 0) {
        // The program starts as on a console of its own, with every signal's default action,
        // whatever its starter ignored (a shell's background job ignores SIGINT and SIGQUIT).
        for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU, SIGUSR1, SIGUSR2})
            signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        setsid();
        int fd = open(tty, O_RDWR);
        if (fd < 0) _exit(126);
        ioctl(fd, TIOCSCTTY, 0);
        for (int i = 0; i < 3; ++i) dup2(fd, i);
        if (fd > 2) close(fd);
        execvp(argv[4], argv + 4);
        _exit(127);
    }

    if (screens_only) {
        struct sigaction ending {};
        ending.sa_handler = [](int) { end_asked = 1; };
        ending.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &ending, nullptr);
        sigaction(SIGHUP, &ending, nullptr);
    }

    std::string sent;
    auto report_screen = [&] {
        if (port < 0 || screen < 0) return;
        std::string now = read_screen(screen);
        if (!now.empty() && now != sent && write_all(port, "SCREEN " + base64(now) + "\n")) sent = now;
    };
    int status = 0;
    for (;;) {
        report_screen();
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return 125;
        if (end_asked) return 128 + SIGTERM;
        timespec pause{0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    report_screen();
    std::string end = WIFSIGNALED(status) ? "INSTALLER-SIGNAL " + std::to_string(WTERMSIG(status)) + "\n"
                                          : "INSTALLER-EXIT " + std::to_string(WEXITSTATUS(status)) + "\n";
    if (port >= 0 && !screens_only)
    {
        // The program's end hung up the descriptors of its terminal, ours too: open it anew.
        const int after = open(tty, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        write_all(port, "TERMINAL-ATTRS " + attrs_before + " " + terminal_attrs(after) + "\n" + end);
        if (after >= 0) close(after);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}
