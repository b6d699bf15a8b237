// A ZUVA virtual machine run by scripts/vm: the CD on its CD drive (or none), a disk image as its
// hard disk, maybe a floppy, its keyboard and memory through QMP, its live system's report port
// read as it grows.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/terminal.h"
#include "tests/vm/qmp.h"
#include "tests/vm/report_port.h"

namespace zuva::test {

// Empty when QEMU can run here, else why not.
std::string vm_missing();

class VirtualMachine {
public:
    // Its scratch files (control socket, serial lines) go into a new directory in parent.
    explicit VirtualMachine(const std::string& parent) : dir(parent), report(dir.file("report")) {}
    // Ends QEMU when it still runs, and everything scripts/vm started.
    ~VirtualMachine();
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    // False, with the reason in error, when scripts/vm or its control socket does not come up.
    // An empty cd_iso starts it without a CD; more holds further scripts/vm options (--floppy
    // FILE, --boot-floppy).
    bool start(const std::string& cd_iso, const std::string& disk, const std::vector<std::string>& more = {});
    bool running();
    // Pulls the plug: QEMU and scripts/vm killed at once, as a machine switched off.
    void kill_now();
    // Waits for the boot loader's "boot:" prompt on the VGA text screen and types the line
    // and Enter there.
    bool boot(const std::string& line, int timeout_ms);
    // The VGA text memory's characters, 80 a row; empty when it cannot be read.
    std::string console_text();
    // Until the VGA text satisfies the condition while the machine runs; the text, or empty.
    std::string wait_for_console(const std::function<bool(const std::string&)>& condition, int timeout_ms);
    // Until QEMU ends: scripts/vm's exit status, or -1 after the time-out.
    int wait_end(int timeout_ms);
    // What the kernel and the system wrote on the first serial line.
    std::string serial0() const { return read_file(dir.file("serial0")); }
    // What scripts/vm and QEMU printed.
    std::string log() const { return read_file(dir.file("vm.log")); }
    // Screens on the report port, waited for while the VM runs.
    std::optional<ScreenCells> wait_for_screen(const std::function<bool(const ScreenCells&)>& condition,
                                               int timeout_ms = 60000) {
        return report.wait_for_screen(condition, timeout_ms, [this] { return running(); });
    }

    TempDir dir;
    Qmp qmp;
    ReportPort report;
    std::string error;
    pid_t pid = -1;
    int status = -1;
    // The VGA text and how much the first serial line held when the boot line was typed: what
    // the boot loader showed.
    std::string console_before_boot;
    std::size_t serial0_before_boot = 0;
};

}  // namespace zuva::test
