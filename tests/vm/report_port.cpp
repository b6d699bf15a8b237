#include "tests/vm/report_port.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace zuva::test {

bool decode_base64(std::string_view text, std::string& bytes) {
    static const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return false;
    bytes.clear();
    unsigned bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=') {
            // Padding only at the end, at most two.
            if (i + 2 < text.size() || text.find_first_not_of('=', i) != std::string_view::npos) return false;
            break;
        }
        auto value = alphabet.find(text[i]);
        if (value == std::string_view::npos) return false;
        bits = (bits << 6) | static_cast<unsigned>(value);
        if (++count == 4) {
            bytes += static_cast<char>(bits >> 16);
            bytes += static_cast<char>(bits >> 8);
            bytes += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) bytes += static_cast<char>(bits >> 4);
    if (count == 3) {
        bytes += static_cast<char>(bits >> 10);
        bytes += static_cast<char>(bits >> 2);
    }
    return count != 1;
}

void ReportPort::take_line(const std::string& line) {
    auto after = [&](std::string_view word) -> std::optional<std::string> {
        if (line.rfind(word, 0) != 0) return std::nullopt;
        return line.substr(word.size());
    };
    if (manifest_) {
        if (line == "MANIFEST-END")
            manifest_ = nullptr;
        else
            *manifest_ += line + "\n";
        return;
    }
    std::string bytes;
    ScreenCells screen;
    if (auto data = after("SCREEN ")) {
        if (decode_base64(*data, bytes) && cells_from_vcsa(bytes, screen))
            screens.push_back(std::move(screen));
        else
            unknown_lines.push_back(line.substr(0, 60) + "... (not a screen)");
    } else if (auto status = after("INSTALLER-EXIT ")) {
        exit_status = std::atoi(status->c_str());
    } else if (auto signal = after("INSTALLER-SIGNAL ")) {
        exit_signal = std::atoi(signal->c_str());
    } else if (auto attrs = after("TERMINAL-ATTRS ")) {
        const std::size_t space = attrs->find(' ');
        if (space == std::string::npos || attrs->find(' ', space + 1) != std::string::npos) {
            unknown_lines.push_back(line);
            return;
        }
        attrs_before = attrs->substr(0, space);
        attrs_after = attrs->substr(space + 1);
    } else if (auto which = after("MANIFEST ")) {
        // "MANIFEST target" or "MANIFEST image", each with " none" when nothing was mounted.
        const bool none = which->size() > 5 && which->compare(which->size() - 5, 5, " none") == 0;
        if (none) which->resize(which->size() - 5);
        auto& manifest = *which == "target" ? target_manifest : image_manifest;
        if (*which != "target" && *which != "image") {
            unknown_lines.push_back(line);
            return;
        }
        manifest.emplace(none ? "none" : "");
        manifest_ = none ? &no_manifest_ : &*manifest;
    } else if (line == "REPORT-END") {
        complete = true;
    } else if (line == "POWEROFF") {
        powered_off = true;
    } else if (line == "REBOOT") {
        rebooted = true;
    } else if (!line.empty()) {
        unknown_lines.push_back(line);
    }
}

void ReportPort::read_new() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(offset_));
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        offset_ += static_cast<std::size_t>(in.gcount());
        partial_.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partial_.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        take_line(line);
    }
    partial_.erase(0, start);
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
