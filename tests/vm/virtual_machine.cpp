#include "tests/vm/virtual_machine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace zuva::test {

namespace {

using namespace std::chrono_literals;

// The text of VGA text memory, 80 columns a row: every other byte, the attributes left out.
std::string vga_text(const std::string& memory) {
    std::string text;
    for (std::size_t i = 0; i < memory.size(); i += 2) {
        text += memory[i] >= ' ' && memory[i] < 0x7F ? memory[i] : ' ';
        if (i % 160 == 158) text += '\n';
    }
    return text;
}

// All of it: the Linux console may scroll by moving the start of the visible part.
constexpr unsigned long vga_text_memory = 0xB8000;
constexpr std::size_t vga_text_size = 0x8000;

}  // namespace

std::string vm_missing() {
    if (std::system("command -v qemu-system-x86_64 > /dev/null 2>&1") != 0)
        return "qemu-system-x86_64 is missing (Debian package qemu-system-x86)";
    return "";
}

VirtualMachine::~VirtualMachine() {
    if (pid <= 0) return;
    if (running()) {
        qmp.command(R"({"execute":"quit"})");
        wait_end(5000);
    }
    if (running()) {
        kill(-pid, SIGTERM);
        wait_end(5000);
    }
    if (running()) {
        kill(-pid, SIGKILL);
        wait_end(5000);
    }
}

bool VirtualMachine::start(const std::string& cd_iso, const std::string& disk,
                           const std::vector<std::string>& more) {
    std::vector<std::string> argv = {std::string(ZUVA_SOURCE_DIR) + "/scripts/vm",
                                     "--display", "none",
                                     "--qmp", dir.file("qmp"),
                                     "--serial0", dir.file("serial0"),
                                     "--report", dir.file("report"),
                                     "--disk", disk};
    if (cd_iso.empty())
        argv.push_back("--no-cd");
    else
        argv.insert(argv.end(), {"--cd", cd_iso});
    argv.insert(argv.end(), more.begin(), more.end());
    std::vector<char*> args = c_strings(argv);
    const std::string log = dir.file("vm.log");
    pid = fork();
    if (pid < 0) {
        error = "cannot fork";
        return false;
    }
    if (pid == 0) {
        // A process group of its own, so that whatever scripts/vm starts can be ended with it;
        // and no QEMU outlives a test program that was killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int in = open("/dev/null", O_RDONLY);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid);
    if (!qmp.connect(dir.file("qmp"), 20000)) {
        error = qmp.error + "\n" + this->log();
        return false;
    }
    return true;
}

void VirtualMachine::kill_now() {
    if (!running()) return;
    kill(-pid, SIGKILL);
    wait_end(5000);
}

bool VirtualMachine::running() {
    if (pid <= 0 || status != -1) return false;
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) != pid) return true;
    status = st;
    return false;
}

int VirtualMachine::wait_end(int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (running() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
    if (running()) return -1;
    report.read_new();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string VirtualMachine::console_text() {
    std::string memory;
    return qmp.read_memory(vga_text_memory, vga_text_size, dir.path, memory) ? vga_text(memory) : "";
}

std::string VirtualMachine::wait_for_console(const std::function<bool(const std::string&)>& condition,
                                             int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (running() && std::chrono::steady_clock::now() < end) {
        std::string text = console_text();
        if (condition(text)) return text;
        std::this_thread::sleep_for(200ms);
    }
    return "";
}

bool VirtualMachine::boot(const std::string& line, int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string text;
    while (running() && std::chrono::steady_clock::now() < end) {
        text = console_text();
        if (text.find("boot:") != std::string::npos) {
            console_before_boot = text;
            serial0_before_boot = serial0().size();
            return qmp.type(line + "\r");
        }
        std::this_thread::sleep_for(100ms);
    }
    error = "no boot: prompt on the VGA screen; it shows:\n" + text + "\n" + log();
    return false;
}

}  // namespace zuva::test
