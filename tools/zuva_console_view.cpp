// Shows the ZUVA virtual machine's console in this terminal and sends the keys typed here to its
// keyboard: for the UEFI machine, whose framebuffer console QEMU's curses display cannot show.
//
//   zuva-console-view REPORT SERIAL0 QMP
//   zuva-console-view --result REPORT DIR
//
// Until the live system sends its first console screen on the report port (the file REPORT,
// "SCREEN <base64 of /dev/vcsa1>" lines), what the firmware and the boot loader write on the
// first serial line (the file SERIAL0) passes through as it is: they draw their menus there for
// a VT100. From then on every screen of the console is drawn here, cell by cell in its colours,
// as much of it as this terminal holds. Keys go to the machine through QEMU's control socket
// QMP (send-key, a US keyboard). Ctrl+] ends the machine; the view ends when QEMU does. It draws
// on the terminal's alternate screen, so the terminal's scrollback is left as it was found.
// With --result it reads the report once the machine has ended and writes into DIR what the try
// command says of it: "end" (the installer's "exit N" or "signal N"), "screen" (its last screen
// as text), "complete" (the report came to its end), "target" and "image" (the manifests, when
// a target was mounted and the CD's disk image could be read). Nothing for what is missing.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/report_lines.h"

namespace {

termios saved_mode;
bool mode_saved = false;
volatile sig_atomic_t resized = 1;

void write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void restore_terminal() {
    if (mode_saved) tcsetattr(0, TCSANOW, &saved_mode);
    write_all(1, "\x1b[m\x1b[?25h\x1b[?1049l");
}

// The console font's characters above 127 (code page 437), as UTF-8.
const char* const upper_glyphs[128] = {
    "Ç", "ü", "é", "â", "ä", "à", "å", "ç", "ê", "ë", "è", "ï", "î", "ì", "Ä", "Å", "É", "æ", "Æ", "ô", "ö", "ò",
    "û", "ù", "ÿ", "Ö", "Ü", "¢", "£", "¥", "₧", "ƒ", "á", "í", "ó", "ú", "ñ", "Ñ", "ª", "º", "¿", "⌐", "¬", "½",
    "¼", "¡", "«", "»", "░", "▒", "▓", "│", "┤", "╡", "╢", "╖", "╕", "╣", "║", "╗", "╝", "╜", "╛", "┐", "└", "┴",
    "┬", "├", "─", "┼", "╞", "╟", "╚", "╔", "╩", "╦", "╠", "═", "╬", "╧", "╨", "╤", "╥", "╙", "╘", "╒", "╓", "╫",
    "╪", "┘", "┌", "█", "▄", "▌", "▐", "▀", "α", "ß", "Γ", "π", "Σ", "σ", "µ", "τ", "Φ", "Θ", "Ω", "δ", "∞", "φ",
    "ε", "∩", "≡", "±", "≥", "≤", "⌠", "⌡", "÷", "≈", "°", "∙", "·", "√", "ⁿ", "²", "■", " "};

// A console screen (vcsa: rows, columns, cursor column and row, then character and attribute
// per cell) drawn from the top left, as far as this terminal reaches.
void draw(const std::string& cells) {
    if (cells.size() < 4) return;
    const int rows = static_cast<unsigned char>(cells[0]), cols = static_cast<unsigned char>(cells[1]);
    if (cells.size() < 4 + 2u * rows * cols) return;
    winsize size{};
    int term_rows = 25, term_cols = 80;
    if (ioctl(1, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        term_rows = size.ws_row;
        term_cols = size.ws_col;
    }
    static const int ansi[8] = {0, 4, 2, 6, 1, 5, 3, 7};  // VGA colour order to ANSI's
    std::string out = "\x1b[?25l\x1b[H\x1b[m\x1b[2J";
    int last_attr = -1;
    for (int row = 0; row < rows && row < term_rows; ++row) {
        out += "\x1b[" + std::to_string(row + 1) + ";1H";
        for (int col = 0; col < cols && col < term_cols; ++col) {
            const std::size_t at = 4 + 2u * (row * cols + col);
            const unsigned char ch = static_cast<unsigned char>(cells[at]);
            const int attr = static_cast<unsigned char>(cells[at + 1]);
            if (attr != last_attr) {
                const int fg = attr & 15, bg = attr >> 4 & 7;
                out += "\x1b[0;" + std::to_string((fg & 8 ? 90 : 30) + ansi[fg & 7]) + ";" +
                       std::to_string(40 + ansi[bg]) + (attr & 0x80 ? ";5" : "") + "m";
                last_attr = attr;
            }
            if (ch >= 32 && ch < 127) out += static_cast<char>(ch);
            else if (ch >= 128) out += upper_glyphs[ch - 128];
            else out += ' ';
        }
    }
    const int cursor_col = static_cast<unsigned char>(cells[2]), cursor_row = static_cast<unsigned char>(cells[3]);
    out += "\x1b[m";
    if (cursor_row < term_rows && cursor_col < term_cols)
        out += "\x1b[" + std::to_string(cursor_row + 1) + ";" + std::to_string(cursor_col + 1) + "H\x1b[?25h";
    write_all(1, out);
}

// What a file grew by since the last look.
std::string read_more(const char* path, off_t& offset) {
    std::string more;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return more;
    char buffer[65536];
    ssize_t n;
    while ((n = pread(fd, buffer, sizeof buffer, offset)) > 0) {
        more.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    close(fd);
    return more;
}

// The key of a typed character on a US keyboard, and whether it needs shift.
bool key_of(unsigned char c, std::string& key, bool& shift) {
    static const char* const shifted = "~!@#$%^&*()_+{}|:\"<>?";
    static const char* const plain = "`1234567890-=[]\\;',./";
    static const char* const names[] = {"grave_accent", "1", "2", "3", "4", "5", "6", "7", "8", "9", "0",
                                        "minus", "equal", "bracket_left", "bracket_right", "backslash",
                                        "semicolon", "apostrophe", "comma", "dot", "slash"};
    shift = false;
    if (c >= 'a' && c <= 'z') {
        key = std::string(1, static_cast<char>(c));
    } else if (c >= 'A' && c <= 'Z') {
        key = std::string(1, static_cast<char>(c - 'A' + 'a'));
        shift = true;
    } else if (c == ' ') {
        key = "spc";
    } else if (const char* p = c ? std::strchr(plain, c) : nullptr) {
        key = names[p - plain];
    } else if (const char* q = c ? std::strchr(shifted, c) : nullptr) {
        key = names[q - shifted];
        shift = true;
    } else {
        return false;
    }
    return true;
}

std::string key_json(const std::string& modifier, const std::string& key) {
    std::string keys = modifier.empty() ? "" : R"({"type":"qcode","data":")" + modifier + R"("},)";
    return R"({"execute":"send-key","arguments":{"keys":[)" + keys + R"({"type":"qcode","data":")" + key + "\"}]}}\n";
}

// The QMP commands for what was typed; an escape sequence cut off at the end waits for more.
std::string keys_for(std::string& typed, bool& leave, bool flush_escape) {
    std::string json;
    std::size_t i = 0;
    while (i < typed.size()) {
        const unsigned char c = static_cast<unsigned char>(typed[i]);
        if (c == 0x1d) {  // Ctrl+]
            leave = true;
            return json;
        }
        if (c == 0x1b) {
            if (i + 1 >= typed.size() && !flush_escape) break;
            if (i + 2 < typed.size() && (typed[i + 1] == '[' || typed[i + 1] == 'O')) {
                std::size_t end = i + 2;
                while (end < typed.size() && !(typed[end] >= 0x40 && typed[end] <= 0x7e)) ++end;
                if (end >= typed.size() && !flush_escape) break;
                const std::string seq = typed.substr(i + 2, end - i - 1);
                static const struct { const char* seq; const char* key; } named[] = {
                    {"A", "up"}, {"B", "down"}, {"C", "right"}, {"D", "left"}, {"H", "home"}, {"F", "end"},
                    {"1~", "home"}, {"4~", "end"}, {"2~", "insert"}, {"3~", "delete"}, {"5~", "pgup"},
                    {"6~", "pgdn"}};
                for (const auto& n : named)
                    if (seq == n.seq) json += key_json("", n.key);
                i = end + 1;
                continue;
            }
            if (i + 1 < typed.size() && typed[i + 1] == '[' && !flush_escape) break;
            json += key_json("", "esc");
            ++i;
            continue;
        }
        std::string key;
        bool shift = false;
        if (c == '\r' || c == '\n') json += key_json("", "ret");
        else if (c == 0x7f || c == 0x08) json += key_json("", "backspace");
        else if (c == '\t') json += key_json("", "tab");
        else if (c >= 1 && c <= 26) json += key_json("ctrl", std::string(1, static_cast<char>('a' + c - 1)));
        else if (key_of(c, key, shift)) json += key_json(shift ? "shift" : "", key);
        ++i;
    }
    typed.erase(0, i);
    return json;
}

int connect_qmp(const char* path) {
    for (int tries = 0; tries < 600; ++tries) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            write_all(fd, "{\"execute\":\"qmp_capabilities\"}\n");
            return fd;
        }
        if (fd >= 0) close(fd);
        timespec pause{0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return -1;
}

}  // namespace

// What the report says, as files in dir for the try command; false when dir cannot be written.
bool write_result(const char* report_path, const std::string& dir) {
    zuva::report::Report report;
    std::string partial;
    off_t offset = 0;
    zuva::report::take_text(report, partial, read_more(report_path, offset) + "\n");
    auto put = [&](const char* name, const std::string& text) {
        std::ofstream out(dir + "/" + name, std::ios::binary);
        out << text;
        return static_cast<bool>(out);
    };
    bool written = true;
    if (report.exit_status) written &= put("end", "exit " + std::to_string(*report.exit_status) + "\n");
    if (report.exit_signal) written &= put("end", "signal " + std::to_string(*report.exit_signal) + "\n");
    // The installer's last screen: the live shell's screens follow its end.
    const std::size_t screens = report.exit_status || report.exit_signal ? report.images_of_installer
                                                                         : report.images.size();
    if (screens > 0) written &= put("screen", zuva::report::vcsa_text(report.images[screens - 1]));
    if (report.complete) written &= put("complete", "");
    if (report.target_manifest && *report.target_manifest != "none") written &= put("target", *report.target_manifest);
    if (report.image_manifest && *report.image_manifest != "none") written &= put("image", *report.image_manifest);
    return written;
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--result") == 0) return write_result(argv[2], argv[3]) ? 0 : 1;
    if (argc != 4) {
        std::fprintf(stderr, "usage: zuva-console-view REPORT SERIAL0 QMP\n");
        std::fprintf(stderr, "       zuva-console-view --result REPORT DIR\n");
        return 2;
    }
    const int qmp = connect_qmp(argv[3]);
    if (qmp < 0) {
        std::fprintf(stderr, "zuva-console-view: no QEMU control socket %s\n", argv[3]);
        return 1;
    }
    if (tcgetattr(0, &saved_mode) == 0) {
        mode_saved = true;
        termios raw = saved_mode;
        cfmakeraw(&raw);
        tcsetattr(0, TCSANOW, &raw);
    }
    struct sigaction on_resize {};
    on_resize.sa_handler = [](int) { resized = 1; };
    sigaction(SIGWINCH, &on_resize, nullptr);
    for (int sig : {SIGHUP, SIGTERM, SIGINT}) {
        struct sigaction ending {};
        ending.sa_handler = [](int) {
            restore_terminal();
            _exit(1);
        };
        sigaction(sig, &ending, nullptr);
    }
    write_all(1, "\x1b[?1049h\x1b[H\x1b[2J");

    off_t report_offset = 0, serial_offset = 0;
    zuva::report::Report report;
    std::string partial, typed;
    bool leave = false;
    for (;;) {
        pollfd watch[2] = {{0, POLLIN, 0}, {qmp, POLLIN, 0}};
        const int ready = poll(watch, 2, typed.empty() ? 50 : 30);
        if (ready > 0 && (watch[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char answers[4096];
            if (read(qmp, answers, sizeof answers) <= 0) break;  // QEMU has ended
        }
        if (ready > 0 && (watch[0].revents & POLLIN)) {
            char keys[256];
            const ssize_t n = read(0, keys, sizeof keys);
            if (n > 0) typed.append(keys, static_cast<std::size_t>(n));
        }
        // A lone ESC is the Esc key once nothing followed it within the poll's time.
        const std::string json = keys_for(typed, leave, ready == 0);
        if (!json.empty()) write_all(qmp, json);
        if (leave) {
            // QEMU drops commands still queued when their socket closes: the view stays until
            // QEMU has ended and closed it (up to 10 s).
            write_all(qmp, "{\"execute\":\"quit\"}\n");
            for (int waited = 0; waited < 100; ++waited) {
                pollfd answer{qmp, POLLIN, 0};
                char answers[4096];
                if (poll(&answer, 1, 100) > 0 && read(qmp, answers, sizeof answers) <= 0) break;
            }
            break;
        }
        const std::size_t drawn = report.images.size();
        zuva::report::take_text(report, partial, read_more(argv[1], report_offset));
        if (report.images.empty()) {
            write_all(1, read_more(argv[2], serial_offset));
        } else if (report.images.size() > drawn || resized) {
            resized = 0;
            draw(report.images.back());
        }
    }
    restore_terminal();
    return 0;
}
