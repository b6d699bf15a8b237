#include "tests/vm/report_port.h"

#include <chrono>
#include <fstream>
#include <thread>

namespace zuva::test {

void ReportPort::read_new() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(offset_));
    char buffer[65536];
    std::string arrived;
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        offset_ += static_cast<std::size_t>(in.gcount());
        arrived.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    zuva::report::take_text(*this, partial_, arrived);
    for (std::size_t i = screens.size(); i < images.size(); ++i) {
        ScreenCells screen;
        cells_from_vcsa(images[i], screen);  // whole: the line was taken as a screen
        screens.push_back(std::move(screen));
    }
}

std::optional<ScreenCells> ReportPort::wait_for_screen(const std::function<bool(const ScreenCells&)>& condition,
                                                       int timeout_ms, const std::function<bool()>& alive) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        // Whatever came before the end is still looked at.
        // The live shell's screens follow the report's end.
        const bool last = std::chrono::steady_clock::now() > end || !alive();
        read_new();
        for (; next_screen_ < screens.size(); ++next_screen_)
            if (condition(screens[next_screen_])) return screens[next_screen_++];
        if (last) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

}  // namespace zuva::test
