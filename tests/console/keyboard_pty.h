// A raw pseudo-terminal whose slave side is the keyboard: bytes written to the master arrive
// as typed keys. Shared by the keyboard and line-editor tests.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

#include "console/keyboard.h"

namespace zuva::test {

// Empties the decoder's ring and queue and forgets an earlier end of input.
inline void reset_keyboard(int fd) {
    tty_ring_write = tty_ring_read = tty_ring_count = 0;
    key_queue_put = key_queue_take = 0;
    tty_input_ended = false;
    keyboard_fd = fd;
}

struct KeyboardPty {
    int master = -1;
    int slave = -1;

    void open() {
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios raw{};
        ASSERT_EQ(tcgetattr(slave, &raw), 0);
        cfmakeraw(&raw);
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
        reset_keyboard(slave);
    }

    void close_all() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
        master = slave = -1;
        reset_keyboard(0);
    }

    int pending() const {
        int n = 0;
        ioctl(slave, FIONREAD, &n);
        return n;
    }

    // Writes the bytes in one write and waits until the slave can read all of them, so that
    // the decoder finds a whole sequence there as it would after one burst of typing.
    void type(std::string_view bytes) {
        int before = pending();
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (pending() < before + static_cast<int>(bytes.size())) {
            ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "typed bytes never arrived";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Writes without waiting: for typing from another thread while the decoder reads.
    void type_later(std::string_view bytes) const {
        EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // The terminal's other side goes away, as when the user's terminal hangs up.
    void hang_up() {
        ::close(master);
        master = -1;
    }
};

inline bool queue_empty() { return key_queue_put == key_queue_take; }

}  // namespace zuva::test
