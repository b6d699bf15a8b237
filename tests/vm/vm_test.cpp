// The installer where it belongs: a virtual machine booted from the sample ZUVA CD through its
// boot loader, the dialogue on the machine's Linux console, typed on its keyboard and read back
// cell by cell, the CD and the target on the machine's own drives. The tests share the CD and
// one target disk and run in order: a full installation, a cancel over it, the installed
// system booted, Ctrl+C at a question, and the README's pictures against the console's screens.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/expected_screens.h"
#include "tests/support/terminal.h"
#include "tests/system/installed_tree.h"
#include "tests/vm/virtual_machine.h"
#include "tools/console_font.h"
#include "tools/screen_picture.h"

namespace {

using namespace zuva::test;
using namespace zuva::manifest;
using Clock = std::chrono::steady_clock;

const std::string source_dir = ZUVA_SOURCE_DIR;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a command line; its output, and whether it succeeded.
bool run(const std::string& command, std::string& output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return false;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    return pclose(pipe) == 0;
}

// The sample CD with this build's installer, made once; or why no VM can run here.
struct Setup {
    TempDir dir;
    std::string cd_dir, iso, disk;
    std::string skip, failure;
};

bool setup_made = false;

void make_setup(Setup& s) {
    setup_made = true;
    s.skip = vm_missing();
    if (!s.skip.empty()) return;
    if (!std::getenv("ZUVA_VM_CACHE")) setenv("ZUVA_VM_CACHE", ZUVA_BUILD_DIR "/vm", 1);
    setenv("ZUVA_INSTALL_BINARY", ZUVA_INSTALL_PATH, 1);
    s.cd_dir = s.dir.file("cd");
    s.iso = s.cd_dir + "/zuva-cd.iso";
    s.disk = s.dir.file("disk.img");
    std::string output;
    if (access((source_dir + "/scripts/fetch-kernel").c_str(), X_OK) != 0) {
        s.failure = "no scripts/fetch-kernel";
        return;
    }
    if (!run(source_dir + "/scripts/fetch-kernel", output)) {
        s.skip = "no kernel could be fetched (scripts/fetch-kernel): " + output;
        return;
    }
    output.clear();
    if (!run(source_dir + "/scripts/make-sample-cd " + s.cd_dir, output)) {
        // The Debian packages a bootable CD is made of.
        if (output.find(": missing:") != std::string::npos)
            s.skip = "no bootable CD: " + output;
        else
            s.failure = "scripts/make-sample-cd failed:\n" + output;
        return;
    }
    output.clear();
    if (!run(source_dir + "/scripts/vm-disk " + s.disk, output)) s.failure = "scripts/vm-disk failed:\n" + output;
}

const Setup& setup() {
    static Setup s;
    static const bool made = (make_setup(s), true);
    (void)made;
    return s;
}

#define REQUIRE_VM()                                                     \
    do {                                                                 \
        if (!setup().skip.empty()) GTEST_SKIP() << "VM: " << setup().skip; \
        ASSERT_TRUE(setup().failure.empty()) << setup().failure;         \
    } while (0)

int screens_checked = 0;
int boots = 0;
std::size_t entries_compared = 0;

// The console of one VM run of the installer, driven question by question.
struct Console {
    VirtualMachine vm{setup().dir.path};

    bool start() {
        ++boots;
        if (!vm.start(setup().iso, setup().disk) || !vm.boot("install", 60000)) {
            ADD_FAILURE() << vm.error;
            return false;
        }
        return true;
    }

    // The next screen that satisfies the condition; a failure naming what was waited for.
    std::optional<ScreenCells> next(const std::function<bool(const ScreenCells&)>& condition, const std::string& what,
                                    int timeout_ms = 60000) {
        auto screen = vm.wait_for_screen(condition, timeout_ms);
        if (screen) {
            ++screens_checked;
        } else {
            ADD_FAILURE() << "no screen with " << what << "; the last one:\n"
                          << (vm.report.screens.empty() ? "(none)" : vm.report.screens.back().dump())
                          << "\nserial line:\n" << vm.serial0().substr(0, 20000);
        }
        return screen;
    }

    // Waits for the question and checks its whole screen.
    std::optional<ScreenCells> at(const Question& q, int timeout_ms = 60000) {
        auto screen = next([&](const ScreenCells& s) { return waits_at(s, q); }, std::string(q.text), timeout_ms);
        if (screen) expect_question_screen(*screen, q);
        return screen;
    }

    // Then types the answer and Enter.
    std::optional<ScreenCells> answer(const Question& q, const std::string& typed, int timeout_ms = 60000) {
        auto screen = at(q, timeout_ms);
        if (screen) {
            EXPECT_TRUE(vm.qmp.type(typed + "\r")) << vm.qmp.error;
        }
        return screen;
    }

    // The installer's end: its status on the report port, and the VM powered off.
    void expect_end(int status) {
        EXPECT_EQ(vm.wait_end(60000), 0) << vm.log();
        EXPECT_TRUE(vm.report.powered_off);
        ASSERT_TRUE(vm.report.exit_status.has_value()) << "no INSTALLER-EXIT on the report port";
        EXPECT_EQ(*vm.report.exit_status, status);
        EXPECT_TRUE(vm.report.unknown_lines.empty()) << vm.report.unknown_lines.front();
    }
};

// A row of the df listing: the device first and the mount point last.
bool lists(const ScreenCells& screen, const std::string& device, const std::string& point) {
    for (int row = 1; row <= screen.rows; ++row) {
        std::string line = screen.row(row);
        line.erase(line.find_last_not_of(' ') + 1);
        if (line.rfind(device + " ", 0) == 0 && line.size() > point.size() &&
            line.compare(line.size() - point.size() - 1, std::string::npos, " " + point) == 0)
            return screen.attr(1, row) == plain_colours;
    }
    return false;
}

// The row that starts with the text, 0 when none does.
int row_starting(const ScreenCells& screen, const std::string& text) {
    for (int row = 1; row <= screen.rows; ++row)
        if (screen.row(row).rfind(text, 0) == 0) return row;
    return 0;
}

// What the full installation left for the tests after it.
struct Installation {
    bool done = false;
    std::string target_manifest;
    std::map<std::string, ScreenCells> shots;  // the README's pictures by name
};

Installation& installation() {
    static Installation inst;
    return inst;
}

// A wrong CD device first, "n" at its mount check, then the whole way with the right one.
TEST(VmInstall, EveryScreenOfAFullInstallationOnTheConsoleAndTheSampleTreeOnTheTarget) {
    REQUIRE_VM();
    const Clock::time_point start = Clock::now();
    Console c;
    ASSERT_TRUE(c.start());
    std::cout << "[ vm ] boot: prompt answered " << seconds_since(start) << " s after QEMU's start\n";
    Installation& inst = installation();

    auto screen = c.answer(welcome, "", 120000);
    ASSERT_TRUE(screen);
    std::cout << "[ vm ] welcome box " << seconds_since(start) << " s after QEMU's start\n";
    inst.shots["welcome"] = *screen;

    ASSERT_TRUE(c.at(interest));
    ASSERT_TRUE(c.vm.qmp.type("y"));
    screen = c.next([](const ScreenCells& s) { return s.cursor_column == 40 && s.text(38, 14, 3) == "_y_"; },
                    "the typed y");
    ASSERT_TRUE(screen);
    expect_box(*screen, static_cast<int>(interest.box_text.size()));
    EXPECT_EQ(screen->attr(39, 14), box_colours);
    ASSERT_TRUE(c.vm.qmp.type("\r"));

    ASSERT_TRUE(c.answer(warranty, ""));
    ASSERT_TRUE(c.answer(cd_device, "/dev/hdc"));
    screen = c.answer(mount_check, "n");
    ASSERT_TRUE(screen);
    // mount's own complaint first, then df's listing, which does not show the CD.
    EXPECT_EQ(row_starting(*screen, "mount: "), 1) << screen->dump();
    EXPECT_TRUE(screen->contains("/dev/hdc")) << screen->dump();
    EXPECT_TRUE(screen->contains("Filesystem")) << screen->dump();
    EXPECT_FALSE(lists(*screen, "/dev/hdc", "/cdrom")) << screen->dump();

    // Back at the interest question, over the listing.
    screen = c.answer(interest, "");
    ASSERT_TRUE(screen);
    EXPECT_EQ(row_starting(*screen, "mount: "), 1) << screen->dump();
    ASSERT_TRUE(c.answer(warranty, ""));
    ASSERT_TRUE(c.at(cd_device));
    ASSERT_TRUE(c.vm.qmp.type("/dev/sr0"));
    screen = c.next([](const ScreenCells& s) { return s.cursor_column == 30 && s.contains("(Dev:) /dev/sr0_"); },
                    "the typed CD device");
    ASSERT_TRUE(screen);
    expect_question_screen(*screen, cd_device_typed);
    inst.shots["cd-device"] = *screen;
    ASSERT_TRUE(c.vm.qmp.type("\r"));

    screen = c.answer(mount_check, "");
    ASSERT_TRUE(screen);
    EXPECT_TRUE(screen->contains("Filesystem")) << screen->dump();
    EXPECT_TRUE(lists(*screen, "/dev/sr0", "/cdrom")) << screen->dump();
    inst.shots["cd-mount-check"] = *screen;

    ASSERT_TRUE(c.answer(target_device, "/dev/sda1"));
    screen = c.answer(mount_check, "");
    ASSERT_TRUE(screen);
    EXPECT_TRUE(lists(*screen, "/dev/sda1", "/drive")) << screen->dump();

    screen = c.answer(confirmation, "");
    ASSERT_TRUE(screen);
    EXPECT_EQ(row_starting(*screen, "Filesystem"), 1) << screen->dump();
    EXPECT_TRUE(lists(*screen, "/dev/sr0", "/cdrom")) << screen->dump();
    EXPECT_TRUE(lists(*screen, "/dev/sda1", "/drive")) << screen->dump();
    inst.shots["confirmation"] = *screen;

    screen = c.next([](const ScreenCells& s) { return s.contains("enjoy the silence"); }, "the copy screen");
    ASSERT_TRUE(screen);
    expect_copy_screen(*screen);

    screen = c.answer(completion, "", 180000);
    ASSERT_TRUE(screen);
    inst.shots["completion"] = *screen;

    screen = c.next([](const ScreenCells& s) { return s.row(3).rfind(closing_lines[2], 0) == 0; }, "the closing lines");
    ASSERT_TRUE(screen);
    expect_closing_screen(*screen);
    inst.shots["closing"] = *screen;

    c.expect_end(0);
    ASSERT_TRUE(c.vm.report.target_manifest && c.vm.report.image_manifest) << "no manifests on the report port";
    const TreeManifest tree = walk_tree(setup().cd_dir + "/tree");
    // The CD the VM read holds the sample tree, and the target holds it too.
    const std::vector<std::string> image_differences =
        compare_trees(tree, parse_manifest(*c.vm.report.image_manifest), {}, {"lost+found"});
    EXPECT_TRUE(image_differences.empty()) << image_differences.front();
    const std::size_t compared = expect_installed_tree(tree, parse_manifest(*c.vm.report.target_manifest));
    entries_compared += compared;
    inst.target_manifest = *c.vm.report.target_manifest;
    inst.done = !HasFailure();
    std::cout << "[ vm ] full installation: " << screens_checked << " console screens checked, " << compared
              << " entries of the sample tree compared with the target, " << seconds_since(start) << " s\n";
}

TEST(VmInstall, ACancelAtTheConfirmationLeavesTheInstalledTargetAsItWas) {
    REQUIRE_VM();
    ASSERT_TRUE(installation().done) << "needs the full installation before it";
    const int checked_before = screens_checked;
    const Clock::time_point start = Clock::now();
    Console c;
    ASSERT_TRUE(c.start());
    ASSERT_TRUE(c.answer(welcome, "", 120000));
    ASSERT_TRUE(c.answer(interest, "y"));
    ASSERT_TRUE(c.answer(warranty, ""));
    ASSERT_TRUE(c.answer(cd_device, "/dev/sr0"));
    ASSERT_TRUE(c.answer(mount_check, "y"));
    ASSERT_TRUE(c.answer(target_device, "/dev/sda1"));
    ASSERT_TRUE(c.answer(mount_check, "y"));
    ASSERT_TRUE(c.answer(confirmation, "n"));
    auto screen = c.next([](const ScreenCells& s) { return s.contains(cancel_lines[1]); }, "the cancel lines");
    ASSERT_TRUE(screen);
    expect_cancel_screen(*screen);
    c.expect_end(0);
    ASSERT_TRUE(c.vm.report.target_manifest) << "no manifest of the target";
    const std::vector<std::string> differences =
        compare_trees(parse_manifest(installation().target_manifest), parse_manifest(*c.vm.report.target_manifest));
    EXPECT_TRUE(differences.empty()) << differences.size() << " changes, first: " << differences.front();
    std::cout << "[ vm ] cancel: " << screens_checked - checked_before << " screens checked, "
              << parse_manifest(installation().target_manifest).size() << " target entries unchanged, "
              << seconds_since(start) << " s\n";
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(VmInstall, TheInstalledSystemStartsFromTheSplashEntryAndShowsItsBanner) {
    REQUIRE_VM();
    ASSERT_TRUE(installation().done) << "needs the full installation before it";
    const Clock::time_point start = Clock::now();
    const std::string banner = "ZUVA Linux pre1-2.0";
    VirtualMachine vm(setup().dir.path);
    ++boots;
    ASSERT_TRUE(vm.start(setup().iso, setup().disk)) << vm.error;
    ASSERT_TRUE(vm.boot("hd", 60000)) << vm.error;
    // The splash names ZUVA too: the banner is one more on the console, and one on the serial
    // line after the boot line.
    const std::size_t in_splash = count_of(vm.console_before_boot, banner);
    std::string console;
    bool shown = false;
    for (auto end = Clock::now() + std::chrono::seconds(120); !shown && vm.running() && Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        console = vm.console_text();
        shown = count_of(console, banner) > in_splash &&
                vm.serial0().find(banner, vm.serial0_before_boot) != std::string::npos;
    }
    EXPECT_TRUE(shown) << "the console:\n" << console << "\nthe serial line:\n" << vm.serial0();
    EXPECT_TRUE(vm.report.screens.empty()) << "the live system ran instead";
    std::cout << "[ vm ] installed system: its banner on the console, " << seconds_since(start) << " s\n";
}

TEST(VmInstall, CtrlCAtAQuestionResetsTheScreenAndEndsWith130) {
    REQUIRE_VM();
    const Clock::time_point start = Clock::now();
    Console c;
    ASSERT_TRUE(c.start());
    ASSERT_TRUE(c.answer(welcome, "", 120000));
    ASSERT_TRUE(c.at(interest));
    ASSERT_TRUE(c.vm.qmp.press({"ctrl", "c"})) << c.vm.qmp.error;
    c.expect_end(130);
    ASSERT_FALSE(c.vm.report.screens.empty());
    expect_cleared(c.vm.report.screens.back());
    ++screens_checked;
    EXPECT_EQ(c.vm.report.target_manifest, "none");
    std::cout << "[ vm ] Ctrl+C: " << seconds_since(start) << " s\n";
}

// A row of commands' output above the dialogue's boxes as words, with every number masked: df's
// figures (and so its columns) change with the CD's contents and the kernel.
std::string masked_words(const std::string& row) {
    std::string words, word;
    for (char c : row + " ") {
        if (c != ' ') {
            word += c;
            continue;
        }
        if (word.empty()) continue;
        const std::size_t digits = word.find_first_not_of("0123456789");
        if (digits != 0 && (digits == std::string::npos || word.substr(digits) == "%")) word.replace(0, digits, "#");
        words += (words.empty() ? "" : " ") + word;
        word.clear();
    }
    return words;
}

// The README's pictures show the console's screens of the full installation: their text dumps
// (which the screens' pictures test holds the pictures to) are the screens, cell by cell, but for
// df's figures. With ZUVA_SCREENS_DIR set (scripts/screens) they are written there instead.
TEST(VmPictures, TheReadmePicturesShowTheConsoleScreens) {
    REQUIRE_VM();
    ASSERT_TRUE(installation().done) << "needs the full installation before it";
    zuva::tools::ConsoleFont font;
    if (zuva::tools::find_console_font(font).empty())
        GTEST_SKIP() << "no console font (Debian package console-setup-linux) to draw the pictures with";
    const char* write_to = std::getenv("ZUVA_SCREENS_DIR");
    for (const char* name : {"welcome", "cd-device", "cd-mount-check", "confirmation", "completion", "closing"}) {
        ASSERT_TRUE(installation().shots.count(name)) << name;
        const ScreenCells& now = installation().shots.at(name);
        if (write_to) {
            const std::string path = std::string(write_to) + "/" + name;
            write_file(path + ".txt", zuva::tools::screen_text(now));
            ASSERT_TRUE(zuva::tools::write_png(path + ".png", zuva::tools::render_screen(now, font))) << path;
            std::cout << "[ vm ] wrote " << path << ".png\n";
            continue;
        }
        SCOPED_TRACE(std::string("docs/screens/") + name + ".txt is out of date: run scripts/screens");
        ScreenCells committed;
        ASSERT_TRUE(zuva::tools::read_screen_text(read_file(source_dir + "/docs/screens/" + name + ".txt"), committed));
        ASSERT_EQ(committed.cols * committed.rows, now.cols * now.rows);
        for (int row = 1; row <= now.rows; ++row) {
            const std::string a = committed.row(row), b = now.row(row);
            if (row < 10 && (a.find_first_of("0123456789") != std::string::npos ||
                             b.find_first_of("0123456789") != std::string::npos))
                EXPECT_EQ(masked_words(a), masked_words(b)) << "row " << row << "\n" << now.dump();
            else
                EXPECT_EQ(a, b) << "row " << row << "\n" << now.dump();
            for (int col = 1; col <= now.cols; ++col)
                EXPECT_EQ(committed.attr(col, row), now.attr(col, row)) << "column " << col << ", row " << row;
        }
        EXPECT_EQ(committed.cursor_column, now.cursor_column);
        EXPECT_EQ(committed.cursor_row, now.cursor_row);
    }
}

// The report's screens: base64 of a vcsa image, cells, attributes and the cursor.
TEST(VmReport, AScreenLineGivesTheConsoleCellsAndCursor) {
    std::string bytes;
    ASSERT_TRUE(decode_base64("AgMBAEEHQnBD8AAAAQIDBA==", bytes));
    ASSERT_EQ(bytes.size(), 16u);
    ScreenCells screen;
    ASSERT_TRUE(cells_from_vcsa(bytes, screen));
    EXPECT_EQ(screen.rows, 2);
    EXPECT_EQ(screen.cols, 3);
    EXPECT_EQ(screen.cursor_column, 2);
    EXPECT_EQ(screen.cursor_row, 1);
    EXPECT_EQ(screen.row(1), "ABC");
    EXPECT_EQ(screen.attr(2, 1), 0x70);
    EXPECT_EQ(screen.attr(3, 1), 0xF0);
    EXPECT_FALSE(cells_from_vcsa(bytes.substr(0, 15), screen));
    EXPECT_FALSE(decode_base64("AgMBAEEHQnBD8AAAAQIDBA=", bytes));
    EXPECT_FALSE(decode_base64("AgMB AEE", bytes));
    EXPECT_FALSE(decode_base64("A=gM", bytes));
    EXPECT_EQ(masked_words(" /dev/sr0   40936 40936     0 100% /cdrom 1K-blocks "), "/dev/sr0 # # # #% /cdrom 1K-blocks");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Ended from outside, the program still removes its scratch files (the CD, the disk and
    // every VM's, all in the one scratch directory); its QEMU ends with it.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, [](int s) { std::exit(128 + s); });
    const Clock::time_point start = Clock::now();
    const int failed = RUN_ALL_TESTS();
    if (setup_made && !setup().skip.empty()) std::cout << "[ vm report ] skipped: " << setup().skip << "\n";
    std::cout << "[ vm report ] " << screens_checked << " console screens checked, " << entries_compared
              << " entries of the sample tree compared with the target, " << boots << " VM boots, "
              << seconds_since(start) << " s in all\n";
    return failed;
}
