// The installer on an 80x25 pseudo-terminal in a scratch directory, with the stand-in commands
// first in PATH and every command they receive recorded, one line each, name and arguments
// separated by tabs.
#pragma once

#include <glob.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/expected_screens.h"
#include "tests/support/terminal.h"

namespace zuva::test {

// A command line as the stand-ins record it, for one without spaces inside its words.
inline std::string words(std::string_view command_line) {
    std::string line(command_line);
    for (char& c : line)
        if (c == ' ') c = '\t';
    return line;
}

// "cp -ra /vdr/* /drive/" as /bin/sh hands it to cp: the wildcard expanded when it matches.
inline std::string expected_copy() {
    std::string line = "cp\t-ra";
    glob_t found{};
    if (glob("/vdr/*", 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) line += std::string("\t") + found.gl_pathv[i];
    } else {
        line += "\t/vdr/*";
    }
    globfree(&found);
    return line + "\t/drive/";
}

inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

inline std::string standins_path() { return std::string(ZUVA_SOURCE_DIR) + "/scripts/standins"; }

struct Session {
    TempDir dir;
    PtyProgram program;

    std::string log() const { return dir.file("commands.log"); }

    // extra_path: a directory searched before the stand-ins, for commands of a test's own.
    std::vector<std::string> environment(const std::string& extra_path = "") const {
        std::string path = standins_path() + ":" + std::getenv("PATH");
        if (!extra_path.empty()) path = extra_path + ":" + path;
        return {"PATH=" + path, "ZUVA_COMMAND_LOG=" + log()};
    }

    bool start(const std::string& extra_path = "") {
        return program.start({ZUVA_INSTALL_PATH}, environment(extra_path), dir.path);
    }

    // True once the question's screen is up and the cursor waits where the read waits.
    bool at(const Question& q, int timeout_ms = 10000) {
        return program.wait_for([&] { return waits_at(cells(), q); }, timeout_ms);
    }

    ScreenCells cells() const { return cells_of(program.screen); }

    // Waits for the question, then types the answer and Enter, as a user would.
    bool answer(const Question& q, std::string_view typed) {
        if (!at(q)) {
            ADD_FAILURE() << "waiting for: " << q.text << "\n" << program.screen.dump();
            return false;
        }
        program.type(std::string(typed) + "\r");
        return true;
    }

    std::vector<std::string> commands() const { return split_lines(read_file(log())); }

    int exit_status() {
        int status = program.wait_exit();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + status;
    }
};

}  // namespace zuva::test
