// A real terminal for tests: a program on a pseudo-terminal, its output drawn by libvterm.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace zuva::test {

// An 80x25 (or any size) terminal emulator fed with a program's output.
class VtScreen {
public:
    explicit VtScreen(int cols = 80, int rows = 25);
    ~VtScreen();
    VtScreen(const VtScreen&) = delete;
    VtScreen& operator=(const VtScreen&) = delete;

    void feed(std::string_view bytes);
    // What the emulator answered (cursor position reports), taken once.
    std::string take_replies();

    int cols() const { return cols_; }
    int rows() const { return rows_; }
    // Positions are 1-based, column first, as the console counts them.
    std::string row(int row) const;                 // exactly cols() characters
    std::string text(int col, int row, int length) const;
    char32_t at(int col, int row) const;
    // PC text attribute of a cell: foreground 0-15, background in bits 4-6, blink in bit 7.
    int attr(int col, int row) const;
    int cursor_column() const;
    int cursor_row() const;
    std::pair<int, int> cursor() const { return {cursor_column(), cursor_row()}; }
    bool contains(std::string_view text) const;
    // All rows with their numbers, for failure messages.
    std::string dump() const;

private:
    int cols_;
    int rows_;
    VTerm* vt_;
    VTermScreen* screen_;
    std::string replies_;
};

// A program running on a new pseudo-terminal, with a VtScreen drawing what it writes.
class PtyProgram {
public:
    PtyProgram(int cols = 80, int rows = 25) : screen(cols, rows) {}
    ~PtyProgram();

    // env: NAME=VALUE entries that replace or add to the test's own environment.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               const std::string& cwd = "");
    void type(std::string_view keys);
    // Reads what is there within timeout_ms and draws it; false once the terminal is gone.
    bool pump(int timeout_ms = 50);
    bool wait_for(const std::function<bool()>& condition, int timeout_ms = 5000);
    bool wait_for_text(std::string_view text, int timeout_ms = 5000);
    // Waits until the program has read all that was typed (the terminal holds none of it).
    bool took_typed(int timeout_ms = 5000);
    // Waits until it has read all and waits for more with no time limit, its screen drawn.
    bool waits_for_keys(int timeout_ms = 5000);
    // Waits for the end, drawing the rest; the wait status, or -1 after a time-out (then killed).
    int wait_exit(int timeout_ms = 10000);
    // Closes the master side: the program's terminal hangs up.
    void hang_up();

    pid_t pid = -1;
    int master = -1;
    bool answer_queries = true;  // send the emulator's replies (cursor position) back
    std::string output;          // every byte the program wrote
    VtScreen screen;
    int status = -1;
};

// The function of the program whose code holds the address, by its symbol table (nm), the name
// demangled; "(none)" when none does.
std::string function_at(const std::string& program, unsigned long address);
// The one-letter state of the process in /proc (T: stopped), 0 when it is gone.
char process_state(pid_t pid);
// What a shell command writes on its standard output; its wait status into status when given.
std::string output_of(const std::string& command, int* status = nullptr);
// One word for the shell, whatever it holds (a build folder's path may have spaces).
std::string shell_quoted(const std::string& word);
// Whether the terminal's attributes are those of a new pseudo-terminal, as before a start.
bool attributes_as_new(int master);
// Eight digits of upper-case hexadecimal, as the report writes an address.
inline bool is_hex8(std::string_view s) { return s.size() == 8 && s.find_first_not_of("0123456789ABCDEF") == s.npos; }
// Milliseconds since the moment, by the steady clock.
inline long long ms_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
// A wait status as words: "exit status N", "killed by signal N", or "wait status N".
std::string exit_shown(int status);
// The system call a process or thread sits in, its number then its arguments; empty while it runs.
std::vector<unsigned long> system_call_of(pid_t pid);
// Waits up to timeout_ms for the condition, looking every millisecond; whether it came.
bool wait_until(const std::function<bool()>& condition, int timeout_ms = 5000);
// Whether the process or thread comes to sit in the system call (its number) within timeout_ms.
bool comes_to_call(pid_t pid, unsigned long number, int timeout_ms = 5000);
// Whether the process or thread comes to wait for input with no time limit (ppoll without a
// timeout or poll with a negative one, as the keyboard waits for a key) within timeout_ms.
bool comes_to_wait_for_input(pid_t pid, int timeout_ms = 5000);

// A scratch directory removed at destruction, in /tmp or in the given directory.
struct TempDir {
    explicit TempDir(const std::string& parent = "/tmp");
    ~TempDir();
    std::string path;
    std::string file(std::string_view name) const { return path + "/" + std::string(name); }
};

// The test's own environment with NAME=VALUE entries replacing or adding to it.
std::vector<std::string> environment_with(const std::vector<std::string>& overrides);
// Null-terminated pointers into strings, for execve; valid while strings lives.
std::vector<char*> c_strings(std::vector<std::string>& strings);

std::string read_file(const std::string& path);
// The text's lines without their line feeds; a last line without one counts too.
std::vector<std::string> lines_of(const std::string& text);
void write_file(const std::string& path, std::string_view content, int mode = 0644);

}  // namespace zuva::test
