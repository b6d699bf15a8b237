// The installer on a pseudo-terminal (80x25 unless given) in a scratch directory, with the stand-in commands
// first in PATH and every command they receive recorded, one line each, name and arguments
// separated by tabs.
#pragma once

#include <glob.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

inline std::string standins_path() { return std::string(ZUVA_SOURCE_DIR) + "/scripts/standins"; }

// The processes working in the directory (the session's commands and all they started), but one.
inline std::vector<pid_t> processes_in(const std::string& dir, pid_t except = -1) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(entry.path().filename().c_str());
        std::error_code error;
        if (pid > 0 && pid != except && std::filesystem::read_symlink(entry.path() / "cwd", error) == dir)
            found.push_back(pid);
    }
    return found;
}

struct Session {
    Session(int cols = 80, int rows = 25) : program(cols, rows) {}
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

    // True once the question's screen is up and the cursor waits where the read waits; a failure
    // with the screen when it does not come.
    bool at(const Question& q, int timeout_ms = 10000) {
        if (program.wait_for([&] { return waits_at(cells(), q); }, timeout_ms)) return true;
        ADD_FAILURE() << "waiting for: " << q.text << "\n" << program.screen.dump();
        return false;
    }

    // at(), then the whole screen of the question checked.
    bool shown(const Question& q) {
        if (!at(q)) return false;
        expect_question_screen(cells(), q);
        return true;
    }

    ScreenCells cells() const { return cells_of(program.screen); }

    // Waits for the question, then types the answer and Enter, as a user would.
    bool answer(const Question& q, std::string_view typed) {
        if (!at(q)) return false;
        program.type(std::string(typed) + "\r");
        return true;
    }

    // Answers the questions in turn, each as answer() does.
    bool answers(std::initializer_list<std::pair<const Question*, std::string_view>> steps) {
        for (const auto& [q, typed] : steps)
            if (!answer(*q, typed)) return false;
        return true;
    }

    std::vector<std::string> commands() const { return lines_of(read_file(log())); }

    // The terminal's modes as a new one has them, and no process of the commands left.
    void expect_left_clean() const {
        EXPECT_TRUE(attributes_as_new(program.master));
        EXPECT_EQ(processes_in(dir.path), std::vector<pid_t>{});
    }

    int exit_status() {
        int status = program.wait_exit();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + status;
    }
};

// A command of the test's own, put in the returned directory to come first in PATH. It ignores
// the hang-up that the end of the installer's terminal session sends, as a command run from a
// login shell would never get one; the body follows, run by shell.
inline std::string command_script(const Session& s, const std::string& name, const std::string& body,
                                  const std::string& shell = "/bin/sh") {
    const std::string bin = s.dir.file("bin");
    mkdir(bin.c_str(), 0755);
    write_file(bin + "/" + name, "#!" + shell + "\ntrap '' HUP\n" + body, 0755);
    return bin;
}

// A stand-in for the named command that announces itself with NAME.waiting in the current
// directory and waits (up to 10 s) for NAME.go before it does its work. NAME.waiting holds the
// process id of the script.
inline std::string waiting_command(const Session& s, const std::string& name) {
    return command_script(s, name,
                          "echo $$ > " + name + ".waiting\n"
                          "i=0\n"
                          "while [ ! -e " + name + ".go ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n"
                          "exec '" + standins_path() + "/" + name + "' \"$@\"\n");
}

// Stops reading the terminal (or pipe) until the installer is held in its output: the buffer is
// full and the installer waits in its write for room.
inline bool held_in_output(pid_t pid, int unread_fd) {
    return wait_until([&] {
        int unread = 0;
        const std::vector<unsigned long> call = system_call_of(pid);
        return !call.empty() && call[0] == SYS_write && ioctl(unread_fd, FIONREAD, &unread) == 0 && unread >= 4000;
    });
}

}  // namespace zuva::test
