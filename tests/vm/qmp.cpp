#include "tests/vm/qmp.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

namespace zuva::test {

namespace {

using namespace std::chrono_literals;

// The QEMU key name of a character the tests type; shift for capitals and the bar.
bool key_of(char c, std::string& key, bool& shift) {
    shift = (c >= 'A' && c <= 'Z') || c == '|';
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))
        key = std::string(1, c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    else if (c == '|')
        key = "backslash";
    else if (c == '\r')
        key = "ret";
    else if (c == ' ')
        key = "spc";
    else if (c == '/')
        key = "slash";
    else if (c == '-')
        key = "minus";
    else if (c == '.')
        key = "dot";
    else if (c == '=')
        key = "equal";
    else
        return false;
    return true;
}

}  // namespace

Qmp::~Qmp() {
    if (fd_ >= 0) close(fd_);
}

bool Qmp::read_line(std::string& line, int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (auto at = pending_.find('\n'); at != std::string::npos) {
            line = pending_.substr(0, at);
            pending_.erase(0, at + 1);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        struct pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            error = "no answer from QEMU";
            return false;
        }
        char buffer[4096];
        ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            error = "QEMU closed its control socket";
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(got));
    }
}

bool Qmp::connect(const std::string& socket_path, int timeout_ms) {
    struct sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + socket_path;
        return false;
    }
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        if (std::chrono::steady_clock::now() > end) {
            error = "cannot connect to QEMU's control socket " + socket_path;
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    std::string greeting;
    if (!read_line(greeting, 5000)) return false;
    if (greeting.find("\"QMP\"") == std::string::npos) {
        error = "not a QMP greeting: " + greeting;
        return false;
    }
    return command(R"({"execute":"qmp_capabilities"})");
}

bool Qmp::command(const std::string& json, std::string* answer) {
    if (fd_ < 0) return false;
    std::string line = json + "\n";
    // (A machine that has just ended closed the socket: a failed command, not a SIGPIPE.)
    if (send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        error = "cannot write to QEMU's control socket";
        return false;
    }
    // Events may come before the answer.
    while (read_line(line, 10000)) {
        if (line.find("\"return\"") != std::string::npos) {
            if (answer) *answer = line;
            return true;
        }
        if (line.find("\"error\"") != std::string::npos) {
            error = json + ": " + line;
            return false;
        }
    }
    return false;
}

bool Qmp::press(const std::vector<std::string>& keys) {
    std::string json = R"({"execute":"send-key","arguments":{"hold-time":40,"keys":[)";
    for (size_t i = 0; i < keys.size(); ++i)
        json += std::string(i ? "," : "") + R"({"type":"qcode","data":")" + keys[i] + "\"}";
    bool sent = command(json + "]}}");
    std::this_thread::sleep_for(80ms);
    return sent;
}

bool Qmp::type(std::string_view text) {
    for (char c : text) {
        std::string key;
        bool shift = false;
        if (!key_of(c, key, shift)) {
            error = std::string("no key for '") + c + "'";
            return false;
        }
        if (!press(shift ? std::vector<std::string>{"shift", key} : std::vector<std::string>{key})) return false;
    }
    return true;
}

bool Qmp::read_memory(unsigned long address, std::size_t size, const std::string& scratch_dir, std::string& bytes) {
    const std::string file = scratch_dir + "/memory";
    if (!command(R"({"execute":"pmemsave","arguments":{"val":)" + std::to_string(address) + R"(,"size":)" +
                 std::to_string(size) + R"(,"filename":")" + file + "\"}}"))
        return false;
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    unlink(file.c_str());
    return bytes.size() == size;
}

}  // namespace zuva::test
