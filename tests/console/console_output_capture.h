// The console's output caught write by write, and the console state put back between tests.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/colours.h"
#include "console/screen_output.h"

namespace zuva::test {

// A packet socket in place of descriptor 1: every write the console makes arrives as one packet.
struct OutputCapture {
    int fds[2] = {-1, -1};

    OutputCapture() {
        socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds);
        console_out_fd = fds[0];
    }
    ~OutputCapture() {
        console_out_fd = 1;
        close(fds[0]);
        close(fds[1]);
    }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // The writes made since the last call, each as it was written.
    std::vector<std::string> writes() {
        std::vector<std::string> result;
        char packet[8192];
        for (;;) {
            ssize_t n = recv(fds[1], packet, sizeof packet, MSG_DONTWAIT);
            if (n < 0) break;
            result.emplace_back(packet, static_cast<size_t>(n));
        }
        return result;
    }

    // Everything written since the last call.
    std::string bytes() {
        std::string all;
        for (const std::string& w : writes()) all += w;
        return all;
    }
};

// A fresh console on a terminal of the given size, cursor at (column, row), colour 7.
inline void reset_console(int32_t width = 80, int32_t height = 25, uint8_t column = 1, uint8_t row = 1) {
    screen_width = width;
    screen_height = height;
    window_left = window_top = 1;
    window_right = width;
    window_bottom = height;
    cursor_column = column;
    cursor_row = row;
    text_attr = sent_attr = 7;
    out_count = 0;
    auto_flush = true;
    escape_pending = false;
    escape_text.length = 0;
    output_redirected = false;
    allocate_screen_cells();
}

// Puts the state back as the other console tests expect it.
inline void restore_console() {
    release_screen_cells();
    reset_console();
    release_screen_cells();
}

// The character and attribute the model holds for (column, row).
inline std::pair<char, uint8_t> cell(int column, int row) {
    int index = (row - 1) * screen_width + (column - 1);
    return {static_cast<char>(screen_cells[2 * index]), screen_cells[2 * index + 1]};
}

}  // namespace zuva::test
