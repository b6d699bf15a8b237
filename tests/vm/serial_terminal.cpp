#include "tests/vm/serial_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace zuva::test {

namespace {

using Clock = std::chrono::steady_clock;

// A pause this long on the line: the far end has stopped writing (at 115200 baud the bytes of a
// screen arrive back to back).
constexpr int settle_ms = 100;

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

SerialTerminal::~SerialTerminal() {
    if (line_ >= 0) close(line_);
    if (listener_ >= 0) close(listener_);
    if (!path_.empty()) unlink(path_.c_str());
}

bool SerialTerminal::listen(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    return true;
}

bool SerialTerminal::pump(int timeout_ms) {
    if (line_ < 0) {
        if (listener_ < 0) return false;
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0) return true;
        line_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (line_ < 0) return true;
        timeout_ms = 0;
    }
    pollfd p{line_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return true;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(line_, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        if (n <= 0) return false;  // QEMU closed the line
        const std::string_view bytes(buffer, static_cast<std::size_t>(n));
        received += bytes;
        screen.feed(bytes);
        const std::string answer = screen.take_replies();
        if (!answer_queries || answer.empty()) continue;
        ++answers_sent;
        const std::size_t piece = reply_piece == 0 ? answer.size() : reply_piece;
        for (std::size_t at = 0; at < answer.size(); at += piece) {
            if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply_delay_ms));
            type(std::string_view(answer).substr(at, piece));
        }
    }
}

void SerialTerminal::type(std::string_view keys) {
    if (line_ >= 0) write_all(line_, keys);
}

std::optional<ScreenCells> SerialTerminal::wait_for_screen(const std::function<bool(const ScreenCells&)>& condition,
                                                           int timeout_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (bool up = true;;) {
        if (condition(cells())) {
            // The line brings a screen at its own pace: it is the one that waits for the user only
            // when nothing more follows.
            const std::size_t before = received.size();
            up = pump(settle_ms) && up;
            if (received.size() == before) return cells();
            if (!up || Clock::now() > end) return std::nullopt;
            continue;
        }
        if (!up || Clock::now() > end) return std::nullopt;
        up = pump(30);
    }
}

bool SerialTerminal::wait_for_text(std::string_view text, int timeout_ms, std::size_t from) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (bool up = true;;) {
        if (received.size() >= from && received.find(text, from) != std::string::npos) return true;
        if (!up || Clock::now() > end) return false;
        up = pump(30);
    }
}

}  // namespace zuva::test
