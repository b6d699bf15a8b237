// A small program on the runtime alone, failing or faulting on request, for the exit-path tests.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "runtime/process.h"
#include "runtime/text_stream.h"

namespace {

const char* mode = "";
int depth = 0;
bool fault_at_exit = false;

void finalise_second() {
    if (fault_at_exit) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }
}

void say(const char* text) {
    zuva::write_string(0, zuva::plain_error, text);
    zuva::write_line_end(zuva::plain_error);
}

[[gnu::noinline]] void fail_open() {
    zuva::TextStream file;
    zuva::bind_stream(file, zuva::bounded("/nonexistent/df.tmp"));
    zuva::open_for_reading(file);
    zuva::check_io();
    say("not reached");
}

// Each level a real frame: the call goes through a pointer the compiler cannot follow.
int nest(int level);
int (*volatile nest_again)(int) = nest;

[[gnu::noinline]] int nest(int level) {
    if (level == 0) {
        fail_open();
        return 0;
    }
    volatile int mine = level;
    return nest_again(level - 1) + mine;
}

// Recurses until the stack runs out (the limit is never reached).
[[gnu::noinline]] int overflow(int level) {
    volatile char pad[256];
    pad[0] = static_cast<char>(level);
    if (level == 1 << 30) return pad[0];
    return overflow(level + 1) + pad[0];
}

void main_routine() {
    zuva::init_modules();
    if (!std::strcmp(mode, "missing")) {
        fail_open();
    } else if (!std::strcmp(mode, "deep")) {
        nest(depth);
    } else if (!std::strcmp(mode, "wait")) {
        say("ready");
        for (;;) pause();
    } else if (!std::strcmp(mode, "null")) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    } else if (!std::strcmp(mode, "divide")) {
        volatile int zero = 0;
        volatile int x = 7 / zero;
        (void)x;
    } else if (!std::strcmp(mode, "overflow")) {
        overflow(0);
    } else if (!std::strcmp(mode, "fault-at-exit")) {
        fault_at_exit = true;
        fail_open();
    } else if (!std::strcmp(mode, "bad-standard-stream")) {
        zuva::TextStream s;
        zuva::open_standard_stream(s, 12345, 1);
    } else if (!std::strcmp(mode, "echo")) {
        // Standard streams before any console: copy std_input's lines to std_output.
        zuva::BoundedString line;
        for (;;) {
            zuva::read_string(zuva::std_input, line);
            zuva::read_line_end(zuva::std_input);
            zuva::check_io();
            if (!zuva::line_end_read && line.length == 0) break;
            zuva::write_string(0, zuva::std_output, line);
            zuva::write_line_end(zuva::std_output);
            zuva::check_io();
        }
    }
    zuva::halt_program();
}

}  // namespace

namespace zuva {
const Module module_table[module_count] = {
    {runtime_core_init, nullptr}, {os_interface_init, finalise_second}, {nullptr, nullptr}};
}

int main(int argc, char** argv, char** envp) {
    if (argc > 1) mode = argv[1];
    if (argc > 2) depth = std::atoi(argv[2]);
    zuva::process_entry(argc, argv, envp, main_routine);
}
