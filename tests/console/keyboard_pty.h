// A raw pseudo-terminal whose slave side is the keyboard: bytes written to the master arrive
// as typed keys. Shared by the keyboard and line-editor tests.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "console/keyboard.h"
#include "runtime/system_call.h"
#include "tests/support/terminal.h"

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
        ASSERT_TRUE(wait_until([&] { return pending() >= before + static_cast<int>(bytes.size()); }, 2000))
            << "typed bytes never arrived";
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

// Bytes typed at given times, read through the decoder's source with a clock of the test's own:
// the decoder's waits and sleeps pass that time, nothing sleeps. A hang-up fails the reads as a
// terminal's does (EIO). The decoder's own state stays as it is.
struct ScriptedKeyboard {
    struct Arrival {
        int at_ms;
        std::string bytes;
        bool hang_up = false;
    };
    static inline std::vector<Arrival> arrivals;
    static inline std::string ready;  // arrived, not read yet
    static inline bool hung_up = false;
    static inline int now_ms = 0;
    static inline int calls = 0;          // reads and waits, for "reads no more"
    static inline int endless_waits = 0;  // waits for a key that never comes: a hang for real

    explicit ScriptedKeyboard(std::vector<Arrival> script) {
        arrivals = std::move(script);
        ready.clear();
        hung_up = false;
        now_ms = calls = endless_waits = 0;
        keyboard_source = {read, wait, sleep};
    }
    ~ScriptedKeyboard() { keyboard_source = terminal_keyboard; }

    static void arrive() {
        for (; !arrivals.empty() && arrivals.front().at_ms <= now_ms; arrivals.erase(arrivals.begin())) {
            ready += arrivals.front().bytes;
            hung_up = hung_up || arrivals.front().hang_up;
        }
    }
    static int32_t read(uint8_t* into, int32_t count) {
        ++calls;
        arrive();
        const int32_t n = static_cast<int32_t>(ready.copy(reinterpret_cast<char*>(into), count));
        ready.erase(0, n);
        last_os_error = n ? 0 : hung_up ? 5 : 11;  // EIO, EAGAIN
        return n ? n : -1;
    }
    static bool wait(int32_t timeout_ms) {
        ++calls;
        arrive();
        if (!ready.empty() || hung_up) return true;
        if (arrivals.empty() && timeout_ms < 0) {
            ++endless_waits;
            return hung_up = true;  // so that the test ends instead of hanging
        }
        if (arrivals.empty() || (timeout_ms >= 0 && arrivals.front().at_ms > now_ms + timeout_ms)) {
            now_ms += timeout_ms;
            return false;
        }
        now_ms = arrivals.front().at_ms;
        return true;
    }
    static void sleep(int32_t ms) { now_ms += ms; }
};

}  // namespace zuva::test
