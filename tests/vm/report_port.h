// The live system's report port as a file that grows while the VM runs: the console's screens
// (SCREEN lines carrying /dev/vcsa1 in base64), the installer's terminal modes before and after
// it and its end, the manifests of the target and of the CD's disk image, the report's end (the
// live shell follows, its screens too), and the power-off or reboot typed there.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/screen_cells.h"

namespace zuva::test {

// Standard base64 without line breaks; false on any other character or a wrong length.
bool decode_base64(std::string_view text, std::string& bytes);

class ReportPort {
public:
    explicit ReportPort(std::string path) : path_(std::move(path)) {}

    // Takes in the lines that arrived since the last call.
    void read_new();

    // The first screen after the last one a wait took that satisfies the condition, waiting up
    // to timeout_ms for more; nullopt after the time-out. `alive` tells when waiting is in vain.
    std::optional<ScreenCells> wait_for_screen(const std::function<bool(const ScreenCells&)>& condition,
                                               int timeout_ms, const std::function<bool()>& alive);
    std::vector<ScreenCells> screens;
    std::optional<int> exit_status;
    std::optional<int> exit_signal;
    // The installer's terminal's modes (iflag:oflag:cflag:lflag in hex, "-" when unreadable)
    // before it started and after it ended.
    std::optional<std::string> attrs_before, attrs_after;
    // The manifest texts; "none" when nothing was mounted there.
    std::optional<std::string> target_manifest;
    std::optional<std::string> image_manifest;
    bool complete = false;  // REPORT-END: only the live shell's screens follow
    bool powered_off = false;
    bool rebooted = false;
    std::vector<std::string> unknown_lines;

private:
    void take_line(const std::string& line);
    std::string path_;
    std::size_t offset_ = 0;
    std::string partial_;
    std::size_t next_screen_ = 0;
    std::string* manifest_ = nullptr;  // the manifest being read
    std::string no_manifest_;
};

}  // namespace zuva::test
