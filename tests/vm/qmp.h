// QEMU's machine protocol (QMP) over its unix socket: commands, keys typed on the VM's
// keyboard, and the VM's memory read back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zuva::test {

class Qmp {
public:
    Qmp() = default;
    ~Qmp();
    Qmp(const Qmp&) = delete;
    Qmp& operator=(const Qmp&) = delete;

    // Connects (waiting up to timeout_ms for QEMU to open the socket) and leaves the greeting's
    // capability negotiation behind. False, with the reason in error, when it cannot.
    bool connect(const std::string& socket_path, int timeout_ms);
    // Sends one command and waits for its answer; false on an error answer or a lost connection.
    bool command(const std::string& json, std::string* answer = nullptr);
    // Presses the keys (QEMU key names such as "ctrl" and "c") together and lets them go.
    bool press(const std::vector<std::string>& keys);
    // Types the text key by key with the pause a key needs under emulation: letters, digits,
    // space, / - . = and '\r' for Enter.
    bool type(std::string_view text);
    // The VM's physical memory from address, size bytes long, through a file in scratch_dir.
    bool read_memory(unsigned long address, std::size_t size, const std::string& scratch_dir, std::string& bytes);

    std::string error;

private:
    bool read_line(std::string& line, int timeout_ms);
    int fd_ = -1;
    std::string pending_;
};

}  // namespace zuva::test
