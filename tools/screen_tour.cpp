#include "tools/screen_tour.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <chrono>

#include "tests/support/terminal.h"

namespace zuva::tools {

namespace {

// Until the program has written nothing for a while: the screen is complete.
void settle(test::PtyProgram& program) {
    auto quiet_since = std::chrono::steady_clock::now();
    std::size_t seen = program.output.size();
    while (std::chrono::steady_clock::now() - quiet_since < std::chrono::milliseconds(300)) {
        if (!program.pump(20)) return;
        if (program.output.size() != seen) {
            seen = program.output.size();
            quiet_since = std::chrono::steady_clock::now();
        }
    }
}

}  // namespace

bool take_screen_tour(const std::string& installer, const std::string& standins, std::vector<NamedShot>& shots,
                      std::string& error) {
    // The program runs in a scratch directory: the stand-ins go on PATH by their full name, and
    // without them it would run the real mount.
    char* full = realpath((standins + "/mount").c_str(), nullptr);
    if (!full || access(full, X_OK) != 0) {
        free(full);
        error = "no stand-in mount in " + standins;
        return false;
    }
    std::string standin_dir = full;
    free(full);
    standin_dir.erase(standin_dir.rfind('/'));
    test::TempDir scratch;
    test::PtyProgram program(80, 25);
    const char* path = getenv("PATH");
    if (!program.start({installer}, {"PATH=" + standin_dir + ":" + (path ? path : "/usr/bin:/bin"), "TERM=linux",
                                     "ZUVA_COMMAND_LOG=" + scratch.file("commands.log")},
                       scratch.path)) {
        error = "cannot start " + installer;
        return false;
    }
    // The screen to wait for, its picture's name (none: no picture) and the keys that answer it.
    struct Step {
        const char* wait_for;
        const char* name;
        const char* keys;
    };
    const Step steps[] = {
        {"Welcome to ZUVA Linux pre1-2.0 Install!", "welcome", "\r"},
        {"Are you still intrested in installing ZUVA?", nullptr, "\r"},
        {"Sorry but ZUVA comes with NO WARRANTY! Well...", nullptr, "\r"},
        {"where is ZUVA Cd:", nullptr, "/dev/hdc"},
        {"(Dev:) /dev/hdc", "cd-device", "\r"},
        {"Is it properly mounted?", "cd-mount-check", "\r"},
        {"WHERE YOU WANT ZUVA TO BE INSTALLED!", nullptr, "/dev/hda1\r"},
        {"Is it properly mounted?", nullptr, "\r"},
        {"Yeah! Let's do it!", "confirmation", "\r"},
        {"You installed ZUVA SUCCESFULLY", "completion", "\r"},
        {"If you want to create a bootfloppy write:", "closing", ""},
    };
    for (const Step& step : steps) {
        if (!program.wait_for_text(step.wait_for, 10000)) {
            error = std::string("no screen with \"") + step.wait_for + "\":\n" + program.screen.dump();
            return false;
        }
        settle(program);
        if (step.name) shots.push_back({step.name, test::cells_of(program.screen)});
        program.type(step.keys);
    }
    int status = program.wait_exit(10000);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "the installer ended with wait status " + std::to_string(status);
        return false;
    }
    return true;
}

}  // namespace zuva::tools
