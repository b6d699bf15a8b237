// The live system's report port as a file that grows while the VM runs, read line by line as
// the try command reads it (tools/report_lines.h), its screens as console cells.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/screen_cells.h"
#include "tools/report_lines.h"

namespace zuva::test {

using zuva::report::decode_base64;

class ReportPort : public zuva::report::Report {
public:
    explicit ReportPort(std::string path) : path_(std::move(path)) {}

    // Takes in the lines that arrived since the last call.
    void read_new();

    // The first screen after the last one a wait took that satisfies the condition, waiting up
    // to timeout_ms for more; nullopt after the time-out. `alive` tells when waiting is in vain.
    std::optional<ScreenCells> wait_for_screen(const std::function<bool(const ScreenCells&)>& condition,
                                               int timeout_ms, const std::function<bool()>& alive);
    std::vector<ScreenCells> screens;

private:
    std::string path_;
    std::size_t offset_ = 0;
    std::string partial_;
    std::size_t next_screen_ = 0;
};

}  // namespace zuva::test
