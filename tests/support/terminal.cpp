#include "tests/support/terminal.h"

#include "tests/support/screen_cells.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace zuva::test {

namespace {

void collect_reply(const char* bytes, size_t length, void* user) {
    static_cast<std::string*>(user)->append(bytes, length);
}

// ANSI colour index to PC colour number: the inverse of the console's "04261537".
int pc_colour(int ansi) {
    static const int table[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    return table[ansi & 7] | (ansi & 8);
}

long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

VtScreen::VtScreen(int cols, int rows) : cols_(cols), rows_(rows) {
    vt_ = vterm_new(rows, cols);
    vterm_set_utf8(vt_, 0);
    vterm_output_set_callback(vt_, collect_reply, &replies_);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
}

VtScreen::~VtScreen() { vterm_free(vt_); }

void VtScreen::feed(std::string_view bytes) {
    if (!bytes.empty()) vterm_input_write(vt_, bytes.data(), bytes.size());
}

std::string VtScreen::take_replies() {
    std::string r;
    r.swap(replies_);
    return r;
}

char32_t VtScreen::at(int col, int row) const {
    VTermScreenCell cell;
    if (!vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell)) return U' ';
    return cell.chars[0] ? cell.chars[0] : U' ';
}

// What a screen shows is read the one way, from its cells.
std::string VtScreen::text(int col, int row, int length) const { return cells_of(*this).text(col, row, length); }

std::string VtScreen::row(int row) const { return text(1, row, cols_); }

int VtScreen::attr(int col, int row) const {
    VTermScreenCell cell;
    vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell);
    int fg = 7, bg = 0;
    if (VTERM_COLOR_IS_INDEXED(&cell.fg) && !VTERM_COLOR_IS_DEFAULT_FG(&cell.fg)) fg = pc_colour(cell.fg.indexed.idx);
    if (VTERM_COLOR_IS_INDEXED(&cell.bg) && !VTERM_COLOR_IS_DEFAULT_BG(&cell.bg)) bg = pc_colour(cell.bg.indexed.idx) & 7;
    if (cell.attrs.reverse) std::swap(fg, bg);
    int a = (fg & 15) | (bg << 4);
    if (cell.attrs.bold) a |= 8;
    if (cell.attrs.blink) a |= 0x80;
    return a;
}

int VtScreen::cursor_column() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.col + 1;
}

int VtScreen::cursor_row() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.row + 1;
}

bool VtScreen::contains(std::string_view text) const { return cells_of(*this).contains(text); }

std::string VtScreen::dump() const { return cells_of(*this).dump(); }

PtyProgram::~PtyProgram() {
    if (pid > 0 && status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (master >= 0) close(master);
}

bool PtyProgram::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       const std::string& cwd) {
    std::vector<std::string> env_strings = environment_with(env);
    std::vector<std::string> arg_strings = argv;
    std::vector<char*> args = c_strings(arg_strings), envp = c_strings(env_strings);

    struct winsize size {};
    size.ws_col = static_cast<unsigned short>(screen.cols());
    size.ws_row = static_cast<unsigned short>(screen.rows());
    pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) return false;
    if (pid == 0) {
        // Only the terminal, as after a login: a test runner's own descriptors (CTest leaves its
        // log open) would take the numbers that a program under a low open-file limit needs.
        close_range(3, ~0U, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return true;
}

void PtyProgram::type(std::string_view keys) {
    while (!keys.empty()) {
        ssize_t n = write(master, keys.data(), keys.size());
        if (n > 0) {
            keys.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        } else {
            pump(10);
        }
    }
}

bool PtyProgram::pump(int timeout_ms) {
    if (master < 0) return false;
    struct pollfd p {master, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return true;
    char buf[4096];
    bool alive = true;
    for (;;) {
        ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) {
            output.append(buf, static_cast<size_t>(n));
            screen.feed(std::string_view(buf, static_cast<size_t>(n)));
            std::string replies = screen.take_replies();
            if (answer_queries && !replies.empty()) type(replies);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
        alive = false;  // EIO: every slave descriptor is closed
        break;
    }
    return alive;
}

bool PtyProgram::wait_for(const std::function<bool()>& condition, int timeout_ms) {
    long long end = now_ms() + timeout_ms;
    for (;;) {
        if (condition()) return true;
        if (now_ms() >= end) return false;
        if (!pump(20)) return condition();
    }
}

bool PtyProgram::wait_for_text(std::string_view text, int timeout_ms) {
    return wait_for([&] { return screen.contains(text); }, timeout_ms);
}

bool PtyProgram::took_typed(int timeout_ms) {
    // The program's own terminal, opened again through its descriptor 0, tells what is unread.
    const int terminal = open(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    const bool taken = terminal >= 0 && wait_for([&] {
        int unread = -1;
        return ioctl(terminal, FIONREAD, &unread) == 0 && unread == 0;
    }, timeout_ms);
    if (terminal >= 0) close(terminal);
    return taken;
}

bool PtyProgram::waits_for_keys(int timeout_ms) {
    const bool waits = took_typed(timeout_ms) && wait_for([&] { return comes_to_wait_for_input(pid, 0); }, timeout_ms);
    pump(1);
    return waits;
}

int PtyProgram::wait_exit(int timeout_ms) {
    long long end = now_ms() + timeout_ms;
    while (now_ms() < end) {
        int st = 0;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            status = st;
            while (pump(20)) {
                struct pollfd p {master, POLLIN, 0};
                if (poll(&p, 1, 0) <= 0) break;
            }
            return status;
        }
        pump(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    status = -2;
    return -1;
}

void PtyProgram::hang_up() {
    if (master >= 0) close(master);
    master = -1;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string function_at(const std::string& program, unsigned long address) {
    std::istringstream symbols(output_of("nm -C -S --defined-only '" + program + "'"));
    std::string found = "(none)";
    for (std::string line; std::getline(symbols, line);) {
        unsigned long start = 0, size = 0;
        char type = 0;
        int name_at = 0;
        if (sscanf(line.c_str(), "%lx %lx %c %n", &start, &size, &type, &name_at) >= 3 && name_at > 0 &&
            (type == 'T' || type == 't') && address >= start && address < start + size)
            found = line.substr(static_cast<size_t>(name_at));
    }
    return found;
}

char process_state(pid_t pid) {
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(") ");
    return end == std::string::npos ? 0 : stat[end + 2];
}

std::string shell_quoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string output_of(const std::string& command, int* status) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int ended = pipe ? pclose(pipe) : -1;
    if (status) *status = ended;
    return output;
}

bool attributes_as_new(int master) {
    int fresh_master = -1, fresh_slave = -1;
    if (openpty(&fresh_master, &fresh_slave, nullptr, nullptr, nullptr) != 0) return false;
    termios fresh{}, now{};
    const bool read = tcgetattr(fresh_slave, &fresh) == 0 && tcgetattr(master, &now) == 0;
    close(fresh_master);
    close(fresh_slave);
    return read && fresh.c_iflag == now.c_iflag && fresh.c_oflag == now.c_oflag && fresh.c_lflag == now.c_lflag &&
           fresh.c_cflag == now.c_cflag && std::equal(fresh.c_cc, fresh.c_cc + NCCS, now.c_cc);
}

std::string exit_shown(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "wait status " + std::to_string(status);
}

std::vector<unsigned long> system_call_of(pid_t pid) {
    std::istringstream fields(read_file("/proc/" + std::to_string(pid) + "/syscall"));
    std::vector<unsigned long> call;
    std::string field;
    // "running", or the number in decimal and the arguments and pointers in hexadecimal
    if (!(fields >> field) || field == "running" || field[0] == '-') return call;
    call.push_back(std::stoul(field));
    while (fields >> field) call.push_back(std::stoul(field, nullptr, 16));
    return call;
}

bool wait_until(const std::function<bool()>& condition, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool comes_to_call(pid_t pid, unsigned long number, int timeout_ms) {
    return wait_until([=] {
        const std::vector<unsigned long> call = system_call_of(pid);
        return !call.empty() && call[0] == number;
    }, timeout_ms);
}

bool comes_to_wait_for_input(pid_t pid, int timeout_ms) {
    return wait_until([pid] {
        const std::vector<unsigned long> call = system_call_of(pid);
        return call.size() > 3 && ((call[0] == SYS_ppoll && call[3] == 0) ||
                                   (call[0] == SYS_poll && static_cast<long>(call[3]) < 0));
    }, timeout_ms);
}

TempDir::TempDir(const std::string& parent) {
    std::string pattern = parent + "/zuva-test-XXXXXX";
    path = mkdtemp(pattern.data());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> environment_with(const std::vector<std::string>& overrides) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const auto& entry : overrides) vars[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> strings;
    for (auto& [name, entry] : vars) strings.push_back(entry);
    return strings;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, std::string_view content, int mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

}  // namespace zuva::test
