// Running the console's start-up probe and reading what it recorded.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstdio>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/terminal.h"

namespace zuva::test {

inline std::string startup_probe() { return std::string(ZUVA_PROBE_DIR) + "/console_startup_probe"; }

// What the probe found after start-up, and what was left after console_exit.
struct ProbeReport {
    bool started = false;
    int width = -1, height = -1, column = -1, row = -1;
    int output_redirected = -1, input_redirected = -1, cells = -1, start_ms = -1;
    bool exited = false;
    int out_count = -1, cells_released = -1;
};

inline ProbeReport read_report(const std::string& path) {
    ProbeReport r;
    std::istringstream in(read_file(path));
    std::string word;
    while (in >> word) {
        if (word == "start") {
            r.started = true;
            in >> r.width >> r.height >> r.column >> r.row >> r.output_redirected >> r.input_redirected >>
                r.cells >> r.start_ms;
        } else if (word == "exit") {
            r.exited = true;
            in >> r.out_count >> r.cells_released;
        }
    }
    return r;
}

// Bytes made readable in failure messages.
inline std::string shown(const std::string& bytes) {
    std::string s;
    for (unsigned char c : bytes) {
        if (c == 0x1B) {
            s += "ESC";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<%02X>", c);
            s += hex;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s;
}

// The terminal's attributes in the form stty -g shows them.
inline std::string settings(const struct termios& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%x:%x:%x:%x:%x", t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_line);
    std::string s = text;
    for (int i = 0; i < NCCS; ++i) {
        std::snprintf(text, sizeof text, ":%x", t.c_cc[i]);
        s += text;
    }
    std::snprintf(text, sizeof text, ":%x:%x", cfgetispeed(&t), cfgetospeed(&t));
    return s + text;
}

}  // namespace zuva::test
