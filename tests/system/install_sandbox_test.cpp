// Real installations: the installer on a pseudo-terminal inside scripts/sandbox, running the
// real mount, df and cp on loop devices: a sample ZUVA CD and an empty ext2 target.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/terminal.h"
#include "tests/system/installed_tree.h"

using namespace std::chrono_literals;
using zuva::test::exit_shown;
using zuva::test::PtyProgram;
using zuva::test::TempDir;

namespace {

const std::string source_dir = ZUVA_SOURCE_DIR;
const std::string sandbox_script = source_dir + "/scripts/sandbox";
const std::string manifest_probe = std::string(ZUVA_PROBE_DIR) + "/tree_manifest_probe";

bool have_program(const std::string& name) {
    std::string command = "PATH=$PATH:/usr/sbin:/sbin command -v " + name + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Empty when this machine can run the sandbox, else why not.
std::string missing_powers() {
    if (geteuid() != 0) return "needs root for mounts and loop devices";
    if (access("/dev/loop-control", F_OK) != 0) return "no loop devices (/dev/loop-control)";
    for (const char* tool : {"unshare", "losetup", "mke2fs", "debugfs", "xorriso", "chroot"})
        if (!have_program(tool)) return std::string(tool) + " is missing";
    if (std::system("unshare --mount --pid --fork true > /dev/null 2>&1") != 0)
        return "cannot make mount and process namespaces";
    return "";
}

#define REQUIRE_SANDBOX()                                           \
    do {                                                            \
        std::string reason = missing_powers();                      \
        if (!reason.empty()) GTEST_SKIP() << "sandbox: " << reason; \
    } while (0)

// The sample CD of this build, as the build makes it (its sample-cd target): the folder.
bool build_sample_cd() {
    return std::system((zuva::test::shell_quoted(ZUVA_CMAKE) + " --build " + zuva::test::shell_quoted(ZUVA_BUILD_DIR) +
                        " --target sample-cd > /dev/null 2>&1")
                           .c_str()) == 0;
}
const std::string& sample_cd() {
    static std::string made;
    if (made.empty() && build_sample_cd()) made = ZUVA_BUILD_DIR "/sample-cd";
    return made;
}

// The build makes the CD again when the installer or a tool on it changed, and only then.
TEST(SampleCd, IsMadeAgainWhenWhatGoesOnItChangesAndOnlyThen) {
    ASSERT_FALSE(sample_cd().empty()) << "the build's sample-cd failed";
    const std::string iso = sample_cd() + "/zuva-cd.iso";
    const auto made = std::filesystem::last_write_time(iso);
    ASSERT_TRUE(build_sample_cd());
    EXPECT_EQ(std::filesystem::last_write_time(iso), made) << "made again with nothing changed";
    const std::string tool = ZUVA_TOOLS_DIR "/zuva-manifest";
    std::filesystem::last_write_time(tool, std::filesystem::file_time_type::clock::now());
    ASSERT_TRUE(build_sample_cd());
    EXPECT_GT(std::filesystem::last_write_time(iso), made) << "not made again after " << tool << " changed";
}

// What a command line prints on standard output and on standard error, and its status.
struct Printed {
    std::string out, err;
    int status = -1;
};
Printed printed(const std::string& command) {
    TempDir dir;
    Printed p;
    int status = -1;
    p.out = zuva::test::output_of(command + " 2> " + dir.file("err") + " < /dev/null", &status);
    p.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    p.err = zuva::test::read_file(dir.file("err"));
    return p;
}

// try's help names every option of its usage at the start of a line that explains it, all
// within 80 columns; a wrong option, or two that exclude each other, is named, with the usage, on
// standard error.
TEST(TryCommand, HelpExplainsEveryOptionWithin80ColumnsAndAWrongOneIsNamed) {
    const Printed help = printed(zuva::test::shell_quoted(source_dir) + "/scripts/try --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    std::istringstream lines(help.out);
    std::set<std::string> in_usage, explained;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        if (line.rfind("  --", 0) == 0) explained.insert(line.substr(2, line.find(' ', 2) - 2));
        if (line.find("scripts/try") != std::string::npos || line.rfind("                   [", 0) == 0)
            for (std::size_t at = line.find("--"); at != std::string::npos; at = line.find("--", at + 2))
                in_usage.insert(line.substr(at, line.find_first_of(" ]|", at) - at));
    }
    EXPECT_GE(in_usage.size(), 9u) << help.out;
    for (const std::string& option : in_usage) EXPECT_TRUE(explained.count(option)) << option << " is not explained";

    const Printed wrong = printed(zuva::test::shell_quoted(source_dir) + "/scripts/try --uefi --nonsense");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err.substr(0, wrong.err.find('\n')), "try: unknown option: --nonsense");
    EXPECT_NE(wrong.err.find("usage: scripts/try"), std::string::npos) << wrong.err;

    // The speech entry reads the machine's screen, which the serial entry leaves empty.
    const Printed both = printed(zuva::test::shell_quoted(source_dir) + "/scripts/try --serial --speech");
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.err.substr(0, both.err.find('\n')),
              "try: --speech reads the machine's screen aloud: the serial entry leaves it empty");
}

std::set<std::string> mount_points() {
    std::set<std::string> points;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point;
        fields >> id >> parent >> numbers >> root >> point;
        points.insert(point);
    }
    return points;
}

std::string loop_devices() { return zuva::test::output_of("losetup -a 2>/dev/null"); }

// What the host shows that a sandbox could have left behind.
struct HostState {
    std::set<std::string> mounts;
    std::string loops;
    bool root_dirs[3];
};

HostState host_state() {
    HostState state{mount_points(), loop_devices(), {}};
    const char* dirs[3] = {"/cdrom", "/drive", "/vdr"};
    for (int i = 0; i < 3; ++i) state.root_dirs[i] = access(dirs[i], F_OK) == 0;
    return state;
}

// Other sandboxes may run at the same time (ctest -j): only this program's CD is looked for
// among the loop devices; the sandbox itself says when one of its own stays attached.
void expect_host_unchanged(const HostState& before, const std::string& sandbox_output) {
    HostState after = host_state();
    EXPECT_EQ(after.mounts, before.mounts) << "mounts appeared or vanished on the host";
    EXPECT_EQ(after.loops.find(sample_cd() + "/"), std::string::npos) << after.loops;
    EXPECT_EQ(sandbox_output.find("is still attached"), std::string::npos) << sandbox_output;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(after.root_dirs[i], before.root_dirs[i]) << "the host's / changed";
}

// Processes of the sandbox's terminal session with the given command name.
std::vector<pid_t> session_processes(pid_t session, const std::string& name) {
    std::vector<pid_t> found;
    for (const auto& item : std::filesystem::directory_iterator("/proc")) {
        std::string pid_text = item.path().filename();
        if (pid_text.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(item.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        std::size_t close = stat.rfind(')');
        std::size_t open = stat.find('(');
        if (close == std::string::npos || open == std::string::npos) continue;
        std::string comm = stat.substr(open + 1, close - open - 1);
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        long parent = 0, group = 0, sid = 0;
        rest >> state >> parent >> group >> sid;
        if (sid == session && comm == name && state != "Z") found.push_back(std::stoi(pid_text));
    }
    return found;
}

std::vector<pid_t> children_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> children;
    pid_t child;
    while (in >> child) children.push_back(child);
    return children;
}

std::string process_name(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// The installer's cp, whether the shell runs it as its child or became it; -1 when none runs.
pid_t find_copy(pid_t installer) {
    for (pid_t child : children_of(installer)) {
        if (process_name(child) == "cp") return child;
        for (pid_t grandchild : children_of(child))
            if (process_name(grandchild) == "cp") return grandchild;
    }
    return -1;
}

// The output's lines, without their carriage returns.
std::vector<std::string> output_lines(const std::string& output) {
    std::vector<std::string> lines = zuva::test::lines_of(output);
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r') line.pop_back();
    return lines;
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The word after `label` in the output, up to a comma or the line's end.
std::string word_after(const std::string& output, const std::string& label) {
    std::size_t at = output.find(label);
    if (at == std::string::npos) return "";
    at += label.size();
    std::size_t end = output.find_first_of(",\r\n", at);
    return end == std::string::npos ? "" : output.substr(at, end - at);
}

// One run of the sandbox with the installer in it, on an 80x25 pseudo-terminal.
struct Session {
    PtyProgram program;
    std::string cd_device;
    std::string target_device;
    struct termios initial_modes {};

    ~Session() {
        // Never leave the sandbox to a SIGKILL: its own clean-up must run.
        if (program.pid > 0 && program.status == -1) {
            kill(program.pid, SIGTERM);
            finish(15000);
        }
    }

    bool start(const std::vector<std::string>& sandbox_options) {
        std::vector<std::string> argv = {sandbox_script, "--cd", sample_cd()};
        argv.insert(argv.end(), sandbox_options.begin(), sandbox_options.end());
        argv.insert(argv.end(), {"--", ZUVA_INSTALL_PATH});
        if (!program.start(argv, {"TERM=linux"})) return false;
        tcgetattr(program.master, &initial_modes);
        bool announced = program.wait_for([&] {
            cd_device = word_after(program.output, "ZUVA sandbox: CD device ");
            target_device = word_after(program.output, ", target device ");
            return !target_device.empty();
        }, 30000);
        return announced && cd_device.rfind("/dev/loop", 0) == 0 && target_device.rfind("/dev/loop", 0) == 0;
    }

    bool shows(const std::string& text, int timeout_ms = 20000) { return program.wait_for_text(text, timeout_ms); }
    // Waits for the screen with the words, then types the answer and Enter, as a user would.
    bool answer(const std::string& shown, const std::string& typed) {
        if (!shows(shown)) {
            ADD_FAILURE() << "waiting for: " << shown << "\n" << program.screen.dump();
            return false;
        }
        program.type(typed + "\r");
        return true;
    }
    // From the welcome box to the final confirmation with the session's devices, each mount
    // check over the listing that shows its mount.
    bool to_confirmation() {
        if (!answer("Welcome to ZUVA Linux pre1-2.0 Install!", "") ||
            !answer("Are you still intrested in installing ZUVA?", "y") ||
            !answer("Sorry but ZUVA comes with NO WARRANTY! Well...", "") || !answer("where is ZUVA Cd:", cd_device) ||
            !shows("Is it properly mounted?"))
            return false;
        EXPECT_TRUE(listed(cd_device, "/cdrom")) << program.output;
        EXPECT_EQ(program.screen.text(1, 1, 10), "Filesystem") << program.screen.dump();
        if (!answer("Is it properly mounted?", "") || !answer("WHERE YOU WANT ZUVA TO BE INSTALLED!", target_device) ||
            !shows("Is it properly mounted?"))
            return false;
        EXPECT_TRUE(listed(target_device, "/drive")) << program.output;
        return answer("Is it properly mounted?", "") && shows("Yeah! Let's do it!");
    }

    // The wait status of the sandbox (that is, of the installer), or -1 after the time-out.
    // The exit status, or 1000 and the wait status when it did not exit.
    int exit_status(int timeout_ms = 60000) {
        const int status = finish(timeout_ms);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + status;
    }
    int finish(int timeout_ms = 60000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            int st = 0;
            if (waitpid(program.pid, &st, WNOHANG) == program.pid) {
                program.status = st;
                while (program.pump(50)) {
                }
                return st;
            }
            program.pump(20);
        }
        return -1;
    }

    // A df listing line for a device mounted on a mount point, as df wrote it.
    bool listed(const std::string& device, const std::string& point) const {
        for (const std::string& line : output_lines(program.output)) {
            if (line.rfind(device + " ", 0) != 0 || !ends_with(line, "% " + point)) continue;
            std::string numbers = line.substr(device.size(), line.size() - device.size() - point.size() - 1);
            if (numbers.find_first_not_of(" 0123456789%") == std::string::npos) return true;
        }
        return false;
    }
};

// The session's part of a test in a sandbox of its own (with the options), then the host checked:
// as it was before, whatever became of the part.
void in_sandbox(const std::vector<std::string>& options, const std::function<void(Session&)>& part) {
    ASSERT_FALSE(sample_cd().empty()) << "scripts/make-sample-cd failed";
    HostState before = host_state();
    std::string output;
    {
        Session s;
        ASSERT_TRUE(s.start(options)) << s.program.output;
        part(s);
        output = s.program.output;
    }
    expect_host_unchanged(before, output);
}

TEST(InstallSandbox, CopiesTheWholeImageAndLosesNothingButTopLevelDotNames) {
    REQUIRE_SANDBOX();
    TempDir out;
    std::string manifest = out.file("target.manifest");
    in_sandbox({"--after", "'" + manifest_probe + "' /drive '" + manifest + "'"}, [&](Session& s) {
        ASSERT_TRUE(s.to_confirmation());
        s.program.type("\r");
        ASSERT_TRUE(s.shows("You installed ZUVA SUCCESFULLY", 120000)) << s.program.screen.dump();
        s.program.type("\r");
        EXPECT_EQ(s.exit_status(), 0) << s.program.output;
        EXPECT_TRUE(s.program.screen.contains("dd if=/cdrom/boot.dsk of=/dev/fd0")) << s.program.screen.dump();
    });

    zuva::manifest::TreeManifest tree = zuva::manifest::walk_tree(sample_cd() + "/tree");
    zuva::manifest::TreeManifest target = zuva::manifest::parse_manifest(zuva::test::read_file(manifest));
    ASSERT_FALSE(target.empty()) << "no manifest of the target";
    const std::size_t compared = zuva::test::expect_installed_tree(tree, target);
    // What the boot floppy the closing lines name starts: the target's kernel and initramfs.
    for (const char* file : {"boot/vmlinuz", "boot/initrd.img"})
        EXPECT_TRUE(target.count(file) && target.at(file).type == 'f' && target.at(file).size > 1000000) << file;
    const std::string floppy = zuva::test::read_file(sample_cd() + "/boot.dsk");
    EXPECT_EQ(floppy.size(), 1474560u) << "boot.dsk is no 1.44 MB floppy image";
    EXPECT_EQ(floppy.substr(510, 2), "\x55\xaa") << "boot.dsk has no boot sector";
    std::cout << "[ compared ] " << compared << " entries of the sample tree with the target; "
              << "not carried: " << zuva::test::top_level_dot_names(tree).size()
              << " top-level dot name(s); extra on the target: lost+found\n";
}

TEST(InstallSandbox, AWrongCdNameShowsInTheListingAndNGoesBackToTheRightOne) {
    REQUIRE_SANDBOX();
    in_sandbox({}, [&](Session& s) {
        for (const char* shown : {"Welcome to ZUVA Linux pre1-2.0 Install!", "intrested", "NO WARRANTY"})
            ASSERT_TRUE(s.answer(shown, ""));
        ASSERT_TRUE(s.answer("where is ZUVA Cd:", "/dev/no-such-cd"));
        ASSERT_TRUE(s.shows("Is it properly mounted?")) << s.program.screen.dump();
        std::size_t first_listing = s.program.output.size();
        EXPECT_NE(s.program.output.find("/dev/no-such-cd"), std::string::npos);
        for (const std::string& line : output_lines(s.program.output))
            EXPECT_FALSE(ends_with(line, " /cdrom")) << "listed: " << line;
    
        s.program.type("n\r");
        ASSERT_TRUE(s.program.wait_for([&] {
            return s.program.output.size() > first_listing && s.program.screen.contains("intrested");
        })) << s.program.screen.dump();
        s.program.type("\r");
        ASSERT_TRUE(s.answer("NO WARRANTY", "") && s.answer("where is ZUVA Cd:", s.cd_device));
        ASSERT_TRUE(s.program.wait_for([&] { return s.listed(s.cd_device, "/cdrom"); }, 20000))
            << s.program.output;
        ASSERT_TRUE(s.shows("Is it properly mounted?"));
        s.program.type("q\r");
        EXPECT_EQ(s.exit_status(), 0);
    });
}

TEST(InstallSandbox, ATargetTooSmallGivesCopyErrorsAndTheDialogueStillEnds) {
    REQUIRE_SANDBOX();
    in_sandbox({"--target-size", "2M"}, [&](Session& s) {
        ASSERT_TRUE(s.to_confirmation());
        s.program.type("\r");
        ASSERT_TRUE(s.shows("You installed ZUVA SUCCESFULLY", 120000)) << s.program.screen.dump();
        EXPECT_NE(s.program.output.find("No space left on device"), std::string::npos) << s.program.output;
        s.program.type("\r");
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_TRUE(s.program.screen.contains("If you want to create a bootfloppy write:"));
    });
}

TEST(InstallSandbox, AFaultDuringTheCopyEndsWithError216AndTheSandboxCleansUp) {
    REQUIRE_SANDBOX();
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers take over SIGSEGV in this build";
#endif
    in_sandbox({}, [&](Session& s) {
        const struct termios& at_start = s.initial_modes;
        ASSERT_NE(at_start.c_lflag & ICANON, 0u);
        ASSERT_TRUE(s.to_confirmation());
        std::vector<pid_t> installer = session_processes(s.program.pid, "zuva-install");
        ASSERT_EQ(installer.size(), 1u);
        s.program.type("\r");
    
        // Watch closely for the copy and hold it where it is: the fault comes in its middle.
        pid_t copy = -1;
        auto end = std::chrono::steady_clock::now() + 60s;
        while (copy < 0 && std::chrono::steady_clock::now() < end) copy = find_copy(installer[0]);
        ASSERT_GT(copy, 0) << "the copy never showed";
        bool copy_held = kill(copy, SIGSTOP) == 0 &&
                         zuva::test::wait_until([&] { return zuva::test::process_state(copy) == 'T'; }, 1000);
        ASSERT_EQ(kill(installer[0], SIGSEGV), 0);
    
        int status = s.finish();
        EXPECT_EQ(exit_shown(status), "exit status 216") << s.program.output;
        std::string address = word_after(s.program.output, "Runtime error 216 at 0x");
        EXPECT_TRUE(zuva::test::is_hex8(address)) << s.program.output;
        EXPECT_FALSE(s.program.screen.contains("You installed ZUVA SUCCESFULLY"));
        EXPECT_TRUE(copy_held) << "the copy had ended before the fault";
        struct termios at_end {};
        ASSERT_EQ(tcgetattr(s.program.master, &at_end), 0);
        EXPECT_EQ(at_end.c_lflag, at_start.c_lflag);
        EXPECT_EQ(at_end.c_iflag, at_start.c_iflag);
        EXPECT_EQ(at_end.c_oflag, at_start.c_oflag);
        EXPECT_TRUE(session_processes(s.program.pid, "cp").empty()) << "the copy outlived the sandbox";
    });
}

TEST(InstallSandbox, TheSandboxEndedFromOutsideMidDialogueLeavesNothingBehind) {
    REQUIRE_SANDBOX();
    in_sandbox({}, [&](Session& s) {
        ASSERT_TRUE(s.shows("Welcome to ZUVA")) << s.program.screen.dump();
        std::vector<pid_t> installer = session_processes(s.program.pid, "zuva-install");
        ASSERT_EQ(installer.size(), 1u);
        ASSERT_EQ(kill(s.program.pid, SIGTERM), 0);
        int status = s.finish(20000);
        EXPECT_EQ(exit_shown(status), "exit status 143");
        EXPECT_NE(kill(installer[0], 0), 0) << "the installer outlived its sandbox";
    });
}

}  // namespace
