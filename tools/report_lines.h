// The live system's report port, line by line (what zuva-console-report and the live system's
// init send on it): the console's screens ("SCREEN <base64 of /dev/vcsa1>"), the installer's
// terminal modes before and after it and its end, the manifests of the target and of the CD's
// disk image, the report's end (the live shell's screens follow), the power-off or reboot
// typed there. Read by the VM test and by the try command's view and result.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zuva::report {

// Standard base64 without line breaks; false on any other character or a wrong length.
inline bool decode_base64(std::string_view text, std::string& bytes) {
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

// A whole /dev/vcsa image: rows, columns, cursor column and row, then character and attribute
// per cell.
inline bool whole_vcsa(std::string_view image) {
    return image.size() >= 4 &&
           image.size() == 4 + 2u * static_cast<unsigned char>(image[0]) * static_cast<unsigned char>(image[1]);
}

// The screen's rows as text down to the last one with text, trailing blanks cut; characters
// outside printable ASCII read as blanks.
inline std::string vcsa_text(std::string_view image) {
    if (!whole_vcsa(image)) return "";
    const int rows = static_cast<unsigned char>(image[0]), cols = static_cast<unsigned char>(image[1]);
    std::string text, pending;
    for (int row = 0; row < rows; ++row) {
        std::string line;
        for (int col = 0; col < cols; ++col) {
            const unsigned char c = static_cast<unsigned char>(image[4 + 2u * (row * cols + col)]);
            line += c >= 32 && c < 127 ? static_cast<char>(c) : ' ';
        }
        line.erase(line.find_last_not_of(' ') + 1);
        pending += line + "\n";
        if (!line.empty()) {
            text += pending;
            pending.clear();
        }
    }
    return text;
}

struct Report {
    std::vector<std::string> images;  // the screens as vcsa images, in order
    std::size_t images_of_installer = 0;  // how many came before the installer's end
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
    std::string* manifest = nullptr;  // the manifest being read
    std::string no_manifest;
};

// Takes one line (without its line end).
inline void take_line(Report& report, const std::string& line) {
    auto after = [&](std::string_view word) -> std::optional<std::string> {
        if (line.rfind(word, 0) != 0) return std::nullopt;
        return line.substr(word.size());
    };
    if (report.manifest) {
        if (line == "MANIFEST-END")
            report.manifest = nullptr;
        else
            *report.manifest += line + "\n";
        return;
    }
    std::string bytes;
    if (auto data = after("SCREEN ")) {
        if (decode_base64(*data, bytes) && whole_vcsa(bytes))
            report.images.push_back(std::move(bytes));
        else
            report.unknown_lines.push_back(line.substr(0, 60) + "... (not a screen)");
    } else if (auto status = after("INSTALLER-EXIT ")) {
        report.exit_status = std::atoi(status->c_str());
        report.images_of_installer = report.images.size();
    } else if (auto signal = after("INSTALLER-SIGNAL ")) {
        report.exit_signal = std::atoi(signal->c_str());
        report.images_of_installer = report.images.size();
    } else if (auto attrs = after("TERMINAL-ATTRS ")) {
        const std::size_t space = attrs->find(' ');
        if (space == std::string::npos || attrs->find(' ', space + 1) != std::string::npos) {
            report.unknown_lines.push_back(line);
            return;
        }
        report.attrs_before = attrs->substr(0, space);
        report.attrs_after = attrs->substr(space + 1);
    } else if (auto which = after("MANIFEST ")) {
        // "MANIFEST target" or "MANIFEST image", each with " none" when nothing was mounted.
        const bool none = which->size() > 5 && which->compare(which->size() - 5, 5, " none") == 0;
        if (none) which->resize(which->size() - 5);
        if (*which != "target" && *which != "image") {
            report.unknown_lines.push_back(line);
            return;
        }
        auto& manifest = *which == "target" ? report.target_manifest : report.image_manifest;
        manifest.emplace(none ? "none" : "");
        report.manifest = none ? &report.no_manifest : &*manifest;
    } else if (line == "REPORT-END") {
        report.complete = true;
    } else if (line == "POWEROFF") {
        report.powered_off = true;
    } else if (line == "REBOOT") {
        report.rebooted = true;
    } else if (!line.empty()) {
        report.unknown_lines.push_back(line);
    }
}

// Takes the whole lines of what arrived; a line still being written stays in `partial`.
inline void take_text(Report& report, std::string& partial, std::string_view arrived) {
    partial += arrived;
    std::size_t start = 0;
    for (std::size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = partial.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        take_line(report, line);
    }
    partial.erase(0, start);
}

}  // namespace zuva::report
