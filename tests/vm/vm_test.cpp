// The installer where it belongs: a virtual machine booted from the sample ZUVA CD through its
// boot loader, the dialogue on the machine's Linux console, typed on its keyboard and read back
// cell by cell, the CD, the target and a floppy on the machine's own drives. The tests share the
// CD, one target disk and the floppy, and run in order: a full installation, the boot floppy
// written at the live shell as the last screen says and ZUVA started from it without the CD, a
// cancel over the installation, the installed system booted through the CD, a machine killed
// during the copy and installed again, Ctrl+C at a question, the floppy with a disk that holds
// no ZUVA; then the other consoles, each on a disk of its own: a UEFI PC started from the image as
// a USB stick (the framebuffer console, 100x37), the same with Secure Boot on (and the installed
// system through its hd entry), the serial entry with a 120x40 terminal at the far end of the line
// and with nothing answering there, and a USB stick that is no ZUVA medium; the speech entry with
// the machine's sound recorded, every screen heard, and without a sound card or its initramfs;
// last the README's pictures against the console's screens.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <optional>
#include <regex>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/expected_screens.h"
#include "tests/support/terminal.h"
#include "tests/system/installed_tree.h"
#include "tests/vm/serial_terminal.h"
#include "tests/vm/virtual_machine.h"
#include "tools/console_font.h"
#include "tools/screen_picture.h"

namespace {

using namespace zuva::test;
using namespace zuva::manifest;
using Clock = std::chrono::steady_clock;

const std::string source_dir = ZUVA_SOURCE_DIR;
// Paths as words of a command line: the folders may have spaces.
std::string q(const std::string& path) { return zuva::test::shell_quoted(path); }
const std::string scripts = q(source_dir) + "/scripts";

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

// The sample CD with this build's installer, made once; or why no VM can run here. Run alone the
// program keeps it in a scratch folder of its own; under CTest each scenario is a process of its
// own, and the folder named by ZUVA_VM_DIR, prepared by `vm_tests --prepare`, carries the CD, the
// disks and what each scenario leaves for those after it.
struct Setup {
    std::optional<TempDir> scratch;
    std::string dir;
    std::string cd_dir, iso, disk, floppy;
    std::string skip, failure;
    std::string firmware, firmware_skip;  // the UEFI firmware's folder, or why there is none
    std::string sphinx, sphinx_skip;      // the keyword spotter's folder, or why there is none
    std::string file(std::string_view name) const { return dir + "/" + std::string(name); }
};

bool setup_made = false;
const std::string sample_cd_dir = ZUVA_BUILD_DIR "/sample-cd";

// What a scenario leaves in the folder for those after it, by name; empty when nothing is there.
void keep(const std::string& dir, const std::string& name, const std::string& content) {
    write_file(dir + "/kept-" + name, content);
}
std::string kept(const std::string& dir, const std::string& name) {
    return access((dir + "/kept-" + name).c_str(), F_OK) == 0 ? read_file(dir + "/kept-" + name) : "";
}

void make_setup(Setup& s) {
    setup_made = true;
    s.skip = vm_missing();
    if (!s.skip.empty()) return;
    // This build's sample CD, as the build makes it; the kernel and boot loaders from the
    // download cache.
    s.cd_dir = sample_cd_dir;
    s.iso = s.cd_dir + "/zuva-cd.iso";
    s.disk = s.file("disk.img");
    // A blank 1.44 MB disk in the floppy drive.
    s.floppy = s.file("floppy.img");
    write_file(s.floppy, std::string(1474560, '\0'));
    std::string output;
    if (!run(scripts + "/fetch-kernel", output)) {
        s.skip = "no kernel could be fetched (scripts/fetch-kernel): " + output;
        return;
    }
    output.clear();
    if (!run(q(ZUVA_CMAKE) + " --build " + q(ZUVA_BUILD_DIR) + " --target sample-cd", output)) {
        // The Debian packages a bootable CD is made of.
        if (output.find(": missing:") != std::string::npos)
            s.skip = "no bootable CD: " + output;
        else
            s.failure = "the build's sample-cd failed:\n" + output;
        return;
    }
    output.clear();
    if (!run(scripts + "/vm-disk " + q(s.disk), output)) s.failure = "scripts/vm-disk failed:\n" + output;
    output.clear();
    // Only the UEFI machine needs it, and only that one is skipped without it.
    if (run(scripts + "/fetch-packages ovmf", output))
        s.firmware = output.substr(0, output.find('\n'));
    else
        s.firmware_skip = "no UEFI firmware could be fetched (Debian package ovmf): " + output;
    output.clear();
    if (run(scripts + "/fetch-packages pocketsphinx", output))
        s.sphinx = output.substr(0, output.find('\n'));
    else
        s.sphinx_skip = "no keyword spotter could be fetched (Debian package pocketsphinx): " + output;
}

// The folder shared by the scenarios' processes, or empty when the program runs alone.
std::string shared_dir() {
    const char* dir = std::getenv("ZUVA_VM_DIR");
    return dir && *dir ? dir : "";
}

// What the preparation found, kept in the shared folder for the scenarios.
const std::pair<const char*, std::string Setup::*> kept_setup[] = {
    {"skip", &Setup::skip}, {"failure", &Setup::failure}, {"firmware", &Setup::firmware},
    {"firmware-skip", &Setup::firmware_skip}, {"sphinx", &Setup::sphinx}, {"sphinx-skip", &Setup::sphinx_skip}};

// The shared folder made anew with the CD and disks in it, and what came of it.
void prepare_shared(Setup& s) {
    std::error_code ignored;
    std::filesystem::remove_all(s.dir, ignored);
    std::filesystem::create_directories(s.dir);
    make_setup(s);
    for (const auto& [name, field] : kept_setup) keep(s.dir, name, s.*field);
}

// The setup a prepared shared folder holds.
void read_shared(Setup& s) {
    setup_made = true;
    if (access(s.file("kept-skip").c_str(), F_OK) != 0) {
        s.failure = "the VM test's folder " + s.dir + " was not prepared (vm_tests --prepare)";
        return;
    }
    for (const auto& [name, field] : kept_setup) s.*field = kept(s.dir, name);
    s.cd_dir = sample_cd_dir;
    s.iso = s.cd_dir + "/zuva-cd.iso";
    s.disk = s.file("disk.img");
    s.floppy = s.file("floppy.img");
}

Setup& setup() {
    static Setup s;
    static const bool made = [] {
        s.dir = shared_dir();
        if (s.dir.empty()) {
            s.dir = s.scratch.emplace().path;
            make_setup(s);
        } else {
            read_shared(s);
        }
        return true;
    }();
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
std::vector<std::string> scenarios;  // those that ran without a failure
std::vector<std::string> speech_figures;  // each screen heard: when its speech began, how long

// The live system's shell after the installer, on the console below the installer's last lines.
const std::string live_shell_line = "ZUVA live system: a shell (poweroff ends it)";
const std::string live_prompt = "zuva-live# ";
// The installed system's banner (its second line: the splash and GRUB name ZUVA too).
const std::string installed_banner = "The system installed on this disk has started.";

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The machine's sound as QEMU's wav output writes it: the 44 bytes of a PCM WAV header, then s16
// frames in real time from the moment the guest first opened its stream, silence included.
struct Recording {
    std::string path;
    int rate = 0, channels = 0;

    static std::string le(unsigned value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> 8 * i & 0xff);
        return out;
    }
    static std::string header(unsigned rate, unsigned channels, unsigned size) {
        return "RIFF" + le(36 + size, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) + le(rate, 4) +
               le(rate * channels * 2, 4) + le(channels * 2, 2) + le(16, 2) + "data" + le(size, 4);
    }
    std::string bytes(std::size_t from, std::size_t count) const {
        std::ifstream in(path, std::ios::binary);
        std::string got(count, '\0');
        in.seekg(static_cast<std::streamoff>(from));
        in.read(got.data(), static_cast<std::streamsize>(count));
        got.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
        return got;
    }
    // Seconds recorded, as the file stands; 0 before the header is there.
    double seconds() {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        for (int c = 1; !rate && !error && size >= 44 && c <= 2; ++c)
            for (unsigned r : {16000u, 44100u, 48000u})
                if (bytes(0, 44).compare(8, 32, header(r, c, 0), 8, 32) == 0) rate = static_cast<int>(r), channels = c;
        return rate && size > 44 ? double(size - 44) / (2 * channels) / rate : 0;
    }
    // The frames from..to (seconds), their channels mixed.
    std::vector<float> mono(double from, double to) {
        if (seconds() == 0 || to <= from) return {};
        const std::size_t frame = 2 * channels, first = static_cast<std::size_t>(std::max(from, 0.0) * rate);
        const std::string b = bytes(44 + first * frame, (static_cast<std::size_t>(to * rate) - first) * frame);
        std::vector<float> out(b.size() / frame);
        for (std::size_t i = 0; i < out.size() * channels; ++i)
            out[i / channels] += static_cast<std::int16_t>((b[2 * i] & 0xff) | (b[2 * i + 1] & 0xff) << 8) / float(channels);
        return out;
    }
    // The stretches of sound between from and to, each of 20 ms windows whose RMS is above a
    // hundredth of full scale (the recording of silence is zeros), shorter pauses within.
    std::vector<std::pair<double, double>> spans(double from, double to, double pause = 0.3) {
        from = std::max(from, 0.0);
        const std::vector<float> frames = mono(from, to);
        std::vector<std::pair<double, double>> found;
        const std::size_t window = rate / 50;
        for (std::size_t at = 0; window && at + window <= frames.size(); at += window) {
            double sum = 0;
            for (std::size_t i = at; i < at + window; ++i) sum += frames[i] * frames[i];
            if (std::sqrt(sum / window) < 327) continue;
            const double start = from + double(at) / rate;
            if (found.empty() || start - found.back().second >= pause) found.emplace_back(start, 0);
            found.back().second = start + 0.02;
        }
        return found;
    }
    // Where the sound between from and to begins and ends; -1 when there is none.
    std::pair<double, double> sound(double from, double to) {
        const auto found = spans(from, to);
        return found.empty() ? std::pair<double, double>{-1, -1} : std::pair{found.front().first, found.back().second};
    }
    // The frames from..to as 16 kHz mono WAV, what the keyword spotter's model was made for.
    std::string wav_16khz(double from, double to) {
        const std::vector<float> in = mono(from, to);
        std::string pcm;
        for (double t = 0; t + 1 < in.size(); t += rate / 16000.0) {
            const std::size_t k = static_cast<std::size_t>(t);
            pcm += le(static_cast<std::uint16_t>(std::lround(in[k] + (in[k + 1] - in[k]) * (t - k))), 2);
        }
        return header(16000, 1, static_cast<unsigned>(pcm.size())) + pcm;
    }
};

// A screen as the listener met it: where the recording stood then, and when the keys came.
struct Heard {
    std::string what;
    double seen = NAN;  // seconds into the recording; NAN until the recording has begun
    Clock::time_point at = Clock::now();
    double typed = -1, after_keys = -1;
    bool cut_off = false;  // the keys came while it was still being read
};

// The console of one VM run of the installer, driven question by question: the machine's own
// console (its screens on the report port, its keyboard through QMP), or a terminal at the far
// end of its serial line.
struct Console {
    VirtualMachine vm{setup().dir};
    SerialTerminal* line = nullptr;  // the installer on the serial line: its screens and keys there
    bool framebuffer = false;        // UEFI: the VGA text memory shows nothing, the report port all

    bool start(const std::string& disk = setup().disk) {
        return start_as({"--floppy", setup().floppy}, disk) && boot("install");
    }

    // A machine of scripts/vm's options, started from the image (as CD or stick); nothing typed.
    bool start_as(const std::vector<std::string>& options, const std::string& disk = setup().disk,
                  const std::string& image = setup().iso) {
        ++boots;
        started = Clock::now();
        if (!vm.start(image, disk, options)) {
            ADD_FAILURE() << vm.error;
            return false;
        }
        return true;
    }

    // The boot loader's entry typed at its boot: prompt, on the serial line or the VGA screen.
    bool boot(const std::string& entry) {
        if (!line) {
            if (vm.boot(entry, 60000)) return true;
            ADD_FAILURE() << vm.error;
            return false;
        }
        if (!line->wait_for_text("boot:", 60000)) {
            ADD_FAILURE() << "no boot: prompt on the serial line; it brought:\n" << line->received << "\n" << vm.log();
            return false;
        }
        line->type(entry + "\r");
        return true;
    }

    // The installer on the serial line: the terminal listens before QEMU connects to it.
    bool start_on_line(SerialTerminal& terminal, const std::string& disk = setup().disk) {
        line = &terminal;
        if (!terminal.listen(vm.dir.file("line"))) {
            ADD_FAILURE() << terminal.error;
            return false;
        }
        return start_as({"--serial-line", "socket:" + vm.dir.file("line")}, disk) && boot("serial");
    }

    bool type(const std::string& keys) {
        if (sound) listen();
        const bool typed = line ? (line->type(keys), true) : vm.qmp.type(keys);
        if (sound && !heard.empty()) heard.back().after_keys = sound->seconds();
        return typed;
    }

    // A screen met, with where the recording stands.
    void hear(const std::string& what) {
        const double at = sound->seconds();
        heard.push_back({what, at > 0 ? at : NAN});
    }

    // As a user who listens: until the last screen's speech has begun and ended (0.6 s quiet), or
    // as one who has heard enough of a long screen after 3 s of it: the keys cut its speech off.
    // At most 3 s when nothing is spoken.
    void listen() {
        if (heard.empty() || heard.back().typed >= 0) return;
        Heard& h = heard.back();
        double first = -1, last = -1, now = 0, checked = 0;
        for (auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if ((now = sound->seconds()) == 0 && seconds_since(h.at) > 3) break;
            if (now == 0) continue;
            if (std::isnan(h.seen)) h.seen = checked = now - seconds_since(h.at);
            const auto [from, to] = sound->sound(std::max(checked, h.seen), now);
            checked = now;
            if (from >= 0) first = first < 0 ? from : first, last = to;
            if (first >= 0 ? now - last > 0.6 || (h.cut_off = now - first >= 3) : now - h.seen > 3) break;
        }
        h.typed = sound->seconds();
    }

    // The next screen that satisfies the condition; a failure naming what was waited for.
    std::optional<ScreenCells> next(const std::function<bool(const ScreenCells&)>& condition, const std::string& what,
                                    int timeout_ms = 60000) {
        auto screen = line ? line->wait_for_screen(condition, timeout_ms) : vm.wait_for_screen(condition, timeout_ms);
        if (screen) {
            ++screens_checked;
            if (sound) hear(what);
            if (cols > 0) {
                EXPECT_EQ(screen->cols, cols) << what;
                EXPECT_EQ(screen->rows, rows) << what;
            }
        } else if (line) {
            ADD_FAILURE() << "no screen with " << what << " on the serial line; it shows:\n" << line->screen.dump();
        } else {
            ADD_FAILURE() << "no screen with " << what << "; the last one:\n"
                          << (vm.report.screens.empty() ? "(none)" : vm.report.screens.back().dump())
                          << "\nserial line:\n" << vm.serial0().substr(0, 20000)
                          << (vm.running() ? "" : "\nthe machine ended:\n" + vm.log());
        }
        return screen;
    }

    // Waits for the question and checks its whole screen.
    std::optional<ScreenCells> at(const Question& q, int timeout_ms = 60000) { return at(q, q.above, timeout_ms); }
    std::optional<ScreenCells> at(const Question& q, Above above, int timeout_ms = 60000) {
        auto screen = next([&](const ScreenCells& s) { return waits_at(s, q); }, std::string(q.text), timeout_ms);
        if (screen) expect_question_screen(*screen, q, above);
        if (screen && &q == &welcome && welcome_after < 0) welcome_after = seconds_since(started);
        return screen;
    }

    // Then types the answer and Enter.
    std::optional<ScreenCells> answer(const Question& q, const std::string& typed, int timeout_ms = 60000) {
        auto screen = at(q, timeout_ms);
        if (screen) {
            EXPECT_TRUE(type(typed + "\r")) << vm.qmp.error;
        }
        return screen;
    }

    // The installer's end: its status, its terminal's modes given back, and the manifests on the
    // report port while the machine stays up, and the live shell's prompt on its terminal.
    void expect_end(int status) {
        for (auto end = Clock::now() + std::chrono::seconds(60); !vm.report.complete && vm.running() && Clock::now() < end;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            vm.report.read_new();
        }
        ASSERT_TRUE(vm.report.complete) << "no REPORT-END on the report port\n" << vm.log();
        EXPECT_FALSE(vm.report.powered_off);
        ASSERT_TRUE(vm.report.exit_status.has_value()) << "no INSTALLER-EXIT on the report port";
        EXPECT_EQ(*vm.report.exit_status, status);
        EXPECT_TRUE(vm.report.unknown_lines.empty()) << vm.report.unknown_lines.front();
        ASSERT_TRUE(vm.report.attrs_before && vm.report.attrs_after) << "no TERMINAL-ATTRS on the report port";
        EXPECT_NE(*vm.report.attrs_before, "-");
        EXPECT_EQ(*vm.report.attrs_after, *vm.report.attrs_before) << "the terminal's modes were not given back";
        if (line) {
            EXPECT_TRUE(line->wait_for_text(live_prompt, 30000)) << "no live shell on the serial line:\n"
                                                                 << line->screen.dump();
            EXPECT_TRUE(line->screen.contains(live_shell_line)) << line->screen.dump();
        } else if (framebuffer) {
            EXPECT_TRUE(vm.wait_for_screen([](const ScreenCells& s) { return s.contains(live_prompt); }, 30000))
                << "no live shell among the console's screens";
        } else {
            const std::string console = vm.wait_for_console(
                [](const std::string& text) { return text.find(live_prompt) != std::string::npos; }, 30000);
            EXPECT_NE(console.find(live_shell_line), std::string::npos) << "no live shell; the console:\n"
                                                                       << vm.console_text();
        }
    }

    // Types poweroff or reboot at the live shell: the machine ends by itself and says how.
    // Nothing after the command's own line that would make it look as if it had failed (a
    // "Terminated", a fresh prompt): on the serial line every byte is seen, on the VGA console
    // what it shows until the machine ends.
    void end_with(const std::string& command) {
        const std::size_t typed_at = line ? line->received.size() : 0;
        ASSERT_TRUE(type(command + "\r")) << vm.qmp.error;
        std::string after;
        if (line) {
            for (int i = 0; i < 300 && line->pump(200); ++i) {  // until QEMU's end closes the line
            }
            after = line->received.substr(typed_at);
        } else if (!framebuffer) {
            const std::string typed = live_prompt + command;
            for (auto end = Clock::now() + std::chrono::seconds(60); vm.running() && Clock::now() < end;) {
                const std::string text = vm.console_text();
                if (text.rfind(typed) != std::string::npos) after = text.substr(text.rfind(typed) + typed.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        EXPECT_EQ(vm.wait_end(60000), 0) << vm.log() << "\nthe console:\n" << vm.console_text();
        EXPECT_EQ(after.find("Terminated"), std::string::npos) << after;
        EXPECT_EQ(after.find(live_prompt), std::string::npos) << after;
        const std::string port = read_file(vm.dir.file("report"));
        EXPECT_TRUE(command == "reboot" ? vm.report.rebooted : vm.report.powered_off)
            << command << ": not on the report port, which ends with:\n" << port.substr(port.size() - std::min<std::size_t>(port.size(), 300));
    }

    // Through the dialogue with the medium's device and the target /dev/sda1, both mount checks
    // answered with y: the target's mount check, or nothing after a failure.
    std::optional<ScreenCells> to_confirmation(const std::string& medium = "/dev/sr0") {
        if (!answer(welcome, "", 120000) || !answer(interest, "y") || !answer(warranty, "") ||
            !answer(cd_device, medium) || !answer(mount_check, "y") || !answer(target_device, "/dev/sda1"))
            return std::nullopt;
        return answer(mount_check, "y");
    }

    // From the confirmation, answered yes, to the live shell, every screen checked: the confirmation
    // screen, or nothing after a failure.
    std::optional<ScreenCells> install_from_confirmation() {
        auto confirmed = answer(confirmation, "");
        if (!confirmed) return std::nullopt;
        auto copy = next([](const ScreenCells& s) { return s.contains("enjoy the silence"); }, "the copy screen");
        if (!copy) return std::nullopt;
        expect_copy_screen(*copy);
        if (!answer(completion, "", 180000)) return std::nullopt;
        auto closing =
            next([](const ScreenCells& s) { return s.row(3).rfind(closing_lines[2], 0) == 0; }, "the closing lines");
        if (!closing) return std::nullopt;
        expect_closing_screen(*closing);
        expect_end(0);
        return confirmed;
    }

    Clock::time_point started;     // QEMU's start
    double welcome_after = -1;     // seconds from then to the first welcome box
    int cols = 0, rows = 0;        // when set, the size every screen must have
    Recording* sound = nullptr;    // when set, the machine's sound: each screen listened to
    std::vector<Heard> heard;      // the screens met, in order
};

// Nothing on the screen (the live shell's screens follow the installer's last one).
bool blank(const ScreenCells& screen) {
    for (int row = 1; row <= screen.rows; ++row)
        if (screen.row(row) != std::string(screen.cols, ' ')) return false;
    return true;
}

// The Used figure of the df listing's row for the device on the mount point, -1 when none.
long used_blocks(const ScreenCells& screen, const std::string& device, const std::string& point) {
    for (int row = 1; row <= screen.rows; ++row) {
        std::istringstream words(screen.row(row));
        std::string name, last, word;
        long size = -1, used = -1;
        words >> name >> size >> used;
        while (words >> word) last = word;
        if (name == device && last == point) return used;
    }
    return -1;
}

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

// The README's pictures, by name.
const char* const pictures[] = {"welcome",    "cd-device", "cd-mount-check",   "confirmation",
                                "completion", "closing",   "uefi-confirmation"};

// What the full installation left for the tests after it.
struct Installation {
    bool done = false;
    bool floppy_written = false;
    long target_used_full = -1;  // df's Used for the installed target
    std::string target_manifest;
    std::map<std::string, ScreenCells> shots;  // the README's pictures by name
};

// Read from the folder at first, so that it reaches the scenarios run as processes of their own.
Installation& installation() {
    static Installation inst;
    static const bool read = [] {
        const std::string& dir = setup().dir;
        std::istringstream(kept(dir, "installation")) >> inst.done >> inst.floppy_written >> inst.target_used_full;
        inst.target_manifest = kept(dir, "target-manifest");
        for (const char* name : pictures)
            if (!zuva::tools::read_screen_text(kept(dir, std::string("shot-") + name), inst.shots[name]))
                inst.shots.erase(name);
        return true;
    }();
    (void)read;
    return inst;
}

// What the installation left, into the folder.
void keep_installation() {
    const Installation& inst = installation();
    keep(setup().dir, "installation", std::to_string(inst.done) + " " + std::to_string(inst.floppy_written) + " " +
                                          std::to_string(inst.target_used_full));
    keep(setup().dir, "target-manifest", inst.target_manifest);
    for (const auto& [name, shot] : inst.shots) keep(setup().dir, "shot-" + name, zuva::tools::screen_text(shot));
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
    screen = c.at(interest, Above::listing);
    ASSERT_TRUE(screen);
    ASSERT_TRUE(c.vm.qmp.type("\r"));
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
    keep_installation();
    std::cout << "[ vm ] full installation: " << screens_checked << " console screens checked, " << compared
              << " entries of the sample tree compared with the target, " << seconds_since(start) << " s\n";
    if (inst.done) scenarios.push_back("full installation");

    // The last screen's dd line, typed at the live shell below it as the screen shows it.
    const std::string shown = inst.shots["closing"].row(2);
    const std::string dd_line = shown.substr(0, shown.find("   "));
    ASSERT_EQ(dd_line, "dd if=/cdrom/boot.dsk of=/dev/fd0");
    const Clock::time_point dd_start = Clock::now();
    ASSERT_TRUE(c.vm.qmp.type(dd_line + "\r")) << c.vm.qmp.error;
    const std::string console = c.vm.wait_for_console(
        [](const std::string& text) { return count_of(text, live_prompt) >= 2; }, 120000);
    EXPECT_NE(console.find("2880+0 records out"), std::string::npos) << "dd did not write the floppy:\n" << console;
    const double dd_seconds = seconds_since(dd_start);
    c.end_with("poweroff");
    ASSERT_FALSE(HasFailure());
    const std::string floppy = read_file(setup().floppy);
    EXPECT_EQ(floppy.size(), 1474560u);
    EXPECT_TRUE(floppy == read_file(setup().cd_dir + "/boot.dsk")) << "the floppy does not hold /cdrom/boot.dsk";
    inst.floppy_written = !HasFailure();
    keep_installation();
    std::cout << "[ vm ] boot floppy written at the live shell in " << dd_seconds << " s, then poweroff\n";
    if (inst.floppy_written) scenarios.push_back("dd line typed at the live shell, poweroff");
}

// Waits for the installed system's banner on the console (more of it than before) and on the
// first serial line after the given offset.
bool shows_banner(VirtualMachine& vm, std::size_t on_console_before, std::size_t serial_from, std::string& console) {
    for (auto end = Clock::now() + std::chrono::seconds(120); vm.running() && Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        console = vm.console_text();
        if (count_of(console, installed_banner) > on_console_before &&
            vm.serial0().find(installed_banner, serial_from) != std::string::npos)
            return true;
    }
    return false;
}

TEST(VmInstall, TheBootFloppyWrittenAtTheLiveShellStartsTheInstalledSystemWithoutTheCd) {
    REQUIRE_VM();
    ASSERT_TRUE(installation().floppy_written) << "needs the floppy written after the full installation";
    const Clock::time_point start = Clock::now();
    VirtualMachine vm(setup().dir);
    ++boots;
    ASSERT_TRUE(vm.start("", setup().disk, {"--floppy", setup().floppy, "--boot-floppy"})) << vm.error;
    std::string console;
    EXPECT_TRUE(shows_banner(vm, 0, 0, console)) << "the console:\n" << console << "\nthe serial line:\n" << vm.serial0();
    const double seconds = seconds_since(start);
    EXPECT_NE(vm.serial0().find("ZUVA boot floppy: starting ZUVA from the first hard disk (/dev/sda1)"),
              std::string::npos) << vm.serial0();
    EXPECT_TRUE(vm.report.screens.empty()) << "the live system ran instead";
    std::cout << "[ vm ] boot floppy, no CD: the installed system's banner " << seconds << " s after QEMU's start\n";
    if (!HasFailure()) scenarios.push_back("installed ZUVA started from the floppy without the CD");
}

TEST(VmInstall, ACancelAtTheConfirmationLeavesTheInstalledTargetAsItWas) {
    REQUIRE_VM();
    ASSERT_TRUE(installation().done) << "needs the full installation before it";
    const int checked_before = screens_checked;
    const Clock::time_point start = Clock::now();
    Console c;
    ASSERT_TRUE(c.start());
    const auto target = c.to_confirmation();
    ASSERT_TRUE(target);
    installation().target_used_full = used_blocks(*target, "/dev/sda1", "/drive");
    keep_installation();
    ASSERT_TRUE(c.answer(confirmation, "n"));
    auto screen = c.next([](const ScreenCells& s) { return s.contains(cancel_lines[1]); }, "the cancel lines");
    ASSERT_TRUE(screen);
    expect_cancel_screen(*screen);
    c.expect_end(0);
    c.end_with("reboot");
    ASSERT_TRUE(c.vm.report.target_manifest) << "no manifest of the target";
    const std::vector<std::string> differences =
        compare_trees(parse_manifest(installation().target_manifest), parse_manifest(*c.vm.report.target_manifest));
    EXPECT_TRUE(differences.empty()) << differences.size() << " changes, first: " << differences.front();
    std::cout << "[ vm ] cancel: " << screens_checked - checked_before << " screens checked, "
              << parse_manifest(installation().target_manifest).size() << " target entries unchanged, "
              << seconds_since(start) << " s\n";
    if (!HasFailure()) scenarios.push_back("cancel over the installation, reboot at the live shell");
}

TEST(VmInstall, TheInstalledSystemStartsFromTheSplashEntryAndShowsItsBanner) {
    REQUIRE_VM();
    ASSERT_TRUE(installation().done) << "needs the full installation before it";
    const Clock::time_point start = Clock::now();
    const std::string banner = "ZUVA Linux pre1-2.0";
    VirtualMachine vm(setup().dir);
    ++boots;
    ASSERT_TRUE(vm.start(setup().iso, setup().disk)) << vm.error;
    ASSERT_TRUE(vm.boot("hd", 60000)) << vm.error;
    // The splash names ZUVA too: the banner is one more on the console, and one on the serial
    // line after the boot line.
    std::string console;
    EXPECT_TRUE(shows_banner(vm, 0, vm.serial0_before_boot, console))
        << "the console:\n" << console << "\nthe serial line:\n" << vm.serial0();
    EXPECT_EQ(count_of(console, banner), count_of(vm.console_before_boot, banner) + 1) << console;
    EXPECT_TRUE(vm.report.screens.empty()) << "the live system ran instead";
    std::cout << "[ vm ] installed system: its banner on the console, " << seconds_since(start) << " s\n";
    if (!HasFailure()) scenarios.push_back("installed ZUVA started through the CD's hd entry");
}

// The machine switched off in the middle of the copy, then the whole installation again over
// what reached the target: the target then holds the sample tree, nothing missing or different.
TEST(VmInstall, AMachineKilledDuringTheCopyIsInstalledAgainOverTheHalfFilledTarget) {
    REQUIRE_VM();
    const int kill_after_seconds = 4;
    const Clock::time_point start = Clock::now();
    const std::string disk = setup().file("disk-killed.img");
    std::string output;
    ASSERT_TRUE(run(scripts + "/vm-disk " + q(disk), output)) << output;
    long empty = -1;
    {
        Console c;
        ASSERT_TRUE(c.start(disk));
        const auto target = c.to_confirmation();
        ASSERT_TRUE(target);
        empty = used_blocks(*target, "/dev/sda1", "/drive");
        // The CD drive from here on at a real drive's pace (3 MB/s), so that the copy takes
        // seconds; what it copied a second before the kill is on the disk (the live system
        // writes it out within a second).
        ASSERT_TRUE(c.vm.qmp.command(R"({"execute":"block_set_io_throttle","arguments":{"device":"ide1-cd0",)"
                                     R"("bps":0,"bps_rd":3000000,"bps_wr":0,"iops":0,"iops_rd":0,"iops_wr":0}})"))
            << c.vm.qmp.error;
        ASSERT_TRUE(c.answer(confirmation, ""));
        ASSERT_TRUE(c.next([](const ScreenCells& s) { return s.contains("enjoy the silence"); }, "the copy screen"));
        std::this_thread::sleep_for(std::chrono::seconds(kill_after_seconds));
        c.vm.report.read_new();
        ASSERT_FALSE(waits_at(c.vm.report.screens.back(), completion)) << "the copy had ended before the kill";
        c.vm.kill_now();
        ASSERT_FALSE(c.vm.running());
    }
    Console c;
    ASSERT_TRUE(c.start(disk));
    const auto target = c.to_confirmation();
    ASSERT_TRUE(target);
    const long half = used_blocks(*target, "/dev/sda1", "/drive");
    // The target the kill left unclean was checked before it was mounted, and said so on the
    // kernel's console, not on the screen.
    EXPECT_NE(c.vm.serial0().find("was not cleanly unmounted"), std::string::npos) << c.vm.serial0();
    EXPECT_GT(half, empty) << "nothing of the first copy reached the target\n" << target->dump();
    if (installation().target_used_full > 0) {
        EXPECT_LT(half, installation().target_used_full) << "the first copy was whole\n" << target->dump();
    }
    ASSERT_TRUE(c.answer(confirmation, ""));
    ASSERT_TRUE(c.answer(completion, "", 180000));
    ASSERT_TRUE(c.next([](const ScreenCells& s) { return s.row(3).rfind(closing_lines[2], 0) == 0; },
                       "the closing lines"));
    c.expect_end(0);
    c.end_with("poweroff");
    ASSERT_TRUE(c.vm.report.target_manifest) << "no manifest of the target";
    const std::size_t compared =
        expect_installed_tree(walk_tree(setup().cd_dir + "/tree"), parse_manifest(*c.vm.report.target_manifest));
    entries_compared += compared;
    std::cout << "[ vm ] killed " << kill_after_seconds << " s into the copy (df's Used on the target: " << empty << " empty, " << half
              << " after the kill, " << installation().target_used_full << " installed), installed again: "
              << compared << " entries compared, " << seconds_since(start) << " s\n";
    if (!HasFailure()) scenarios.push_back("machine killed during the copy, installed again over the half-filled target");
}

TEST(VmInstall, CtrlCAtAQuestionResetsTheScreenAndEndsWith130) {
    REQUIRE_VM();
    const Clock::time_point start = Clock::now();
    Console c;
    ASSERT_TRUE(c.start());
    ASSERT_TRUE(c.answer(welcome, "", 120000));
    ASSERT_TRUE(c.at(interest));
    ASSERT_TRUE(c.vm.qmp.press({"ctrl", "c"})) << c.vm.qmp.error;
    const auto cleared = c.next(blank, "the cleared screen");
    ASSERT_TRUE(cleared);
    expect_cleared(*cleared);
    c.expect_end(130);
    EXPECT_EQ(c.vm.report.target_manifest, "none");
    c.end_with("poweroff");
    std::cout << "[ vm ] Ctrl+C: " << seconds_since(start) << " s\n";
    if (!HasFailure()) scenarios.push_back("Ctrl+C at a question");
}

// The boot floppy with a disk that holds no ZUVA says so on the console and the serial line,
// then powers the machine off.
TEST(VmInstall, TheBootFloppyWithADiskThatHoldsNoZuvaSaysSoAndPowersOff) {
    REQUIRE_VM();
    const Clock::time_point start = Clock::now();
    const std::string disk = setup().file("disk-blank.img"), floppy = setup().file("floppy-copy.img");
    std::string output;
    ASSERT_TRUE(run(scripts + "/vm-disk " + q(disk), output)) << output;
    write_file(floppy, read_file(setup().cd_dir + "/boot.dsk"));
    VirtualMachine vm(setup().dir);
    ++boots;
    ASSERT_TRUE(vm.start("", disk, {"--floppy", floppy, "--boot-floppy"})) << vm.error;
    const std::string said = "ZUVA boot floppy: no ZUVA on the first hard disk (/dev/sda1): powering off";
    const std::string console =
        vm.wait_for_console([&](const std::string& text) { return text.find(said) != std::string::npos; }, 60000);
    EXPECT_FALSE(console.empty()) << "not on the console";
    EXPECT_EQ(vm.wait_end(30000), 0) << "the machine did not power off\n" << vm.log();
    EXPECT_NE(vm.serial0().find(said), std::string::npos) << vm.serial0();
    std::cout << "[ vm ] boot floppy, disk without ZUVA: said so and powered off, " << seconds_since(start) << " s\n";
    if (!HasFailure()) scenarios.push_back("boot floppy with a disk that holds no ZUVA");
}

// A target disk of its own for a machine that installs beside the shared one.
std::string new_disk(const std::string& name) {
    const std::string disk = setup().file(name);
    std::string output;
    EXPECT_TRUE(run(scripts + "/vm-disk " + q(disk), output)) << output;
    return disk;
}

// The target as the sample tree, entry by entry, after the installer's end.
void expect_sample_tree_on_target(const Console& c) {
    ASSERT_TRUE(c.vm.report.target_manifest) << "no manifest of the target";
    entries_compared +=
        expect_installed_tree(walk_tree(setup().cd_dir + "/tree"), parse_manifest(*c.vm.report.target_manifest));
}

// A UEFI PC started from the image as a USB stick: the installer on the firmware's framebuffer
// console, 100x37, its boxes where they stand on 80x25 and the rest of the screen empty.
TEST(VmInstall, EveryScreenOfAUefiInstallationFromAUsbStickOnTheFramebufferConsole) {
    REQUIRE_VM();
    if (!setup().firmware_skip.empty()) GTEST_SKIP() << "UEFI: " << setup().firmware_skip;
    const int checked_before = screens_checked;
    Console c;
    c.framebuffer = true;
    c.cols = 100;
    c.rows = 37;
    ASSERT_TRUE(c.start_as({"--uefi", "--usb", "--firmware", setup().firmware, "--boot", "install"},
                           new_disk("disk-uefi.img")));
    const auto listing = c.to_confirmation("/dev/sdb");
    ASSERT_TRUE(listing);
    EXPECT_TRUE(lists(*listing, "/dev/sdb", "/cdrom")) << listing->dump();
    const auto confirmed = c.install_from_confirmation();
    ASSERT_TRUE(confirmed);
    installation().shots["uefi-confirmation"] = *confirmed;
    keep_installation();
    expect_sample_tree_on_target(c);
    c.end_with("poweroff");
    std::cout << "[ vm ] UEFI, USB stick: welcome box " << c.welcome_after << " s after QEMU's start; "
              << screens_checked - checked_before << " screens of 100x37 checked, " << seconds_since(c.started)
              << " s\n";
    if (!HasFailure()) scenarios.push_back("UEFI from a USB stick, framebuffer console 100x37");
}

// Until the first serial line holds the text, while the machine runs and for at most the seconds given.
bool serial_shows(VirtualMachine& vm, const std::string& text, int seconds) {
    for (auto end = Clock::now() + std::chrono::seconds(seconds); Clock::now() < end;) {
        const bool ran = vm.running();
        if (vm.serial0().find(text) != std::string::npos) return true;
        if (!ran) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

// An EFI program without its signature: the certificate table in its PE32+ header emptied (24
// bytes of signature and file header, 112 of optional header, then the data directories, of
// which the fifth is that table).
std::string without_signature(std::string program) {
    std::uint32_t header = 0;
    if (program.size() > 0x400) std::memcpy(&header, program.data() + 0x3c, 4);
    if (header == 0 || header + 24 + 144 + 8 > program.size()) return "";
    program.replace(header + 24 + 112 + 4 * 8, 8, std::string(8, '\0'));
    return program;
}

// The download cache's folder of Debian's signed shim and GRUB, as the image is made from it.
const std::string& signed_folder() {
    static const std::string folder = [] {
        std::string output;
        run(scripts + "/fetch-packages efi-signed", output);
        return output.substr(0, output.find('\n'));
    }();
    return folder;
}
std::string signed_shim() { return signed_folder() + "/usr/lib/shim/shimx64.efi.signed"; }
std::string signed_grub() { return signed_folder() + "/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed"; }

// The image with its shim's signature taken off: what firmware enforcing Secure Boot must refuse.
// Empty when the shim is not found in it.
std::string image_with_unsigned_shim() {
    const std::string shim = read_file(signed_shim()), unsigned_shim = without_signature(shim);
    std::string image = read_file(setup().iso);
    const std::size_t at = unsigned_shim.empty() ? std::string::npos : image.find(shim);
    if (at == std::string::npos) return "";
    image.replace(at, shim.size(), unsigned_shim);
    const std::string path = setup().file("unsigned-shim.iso");
    write_file(path, image);
    return path;
}

// A GRUB without its signature, or a shim of another signer (Debian's GRUB in its place): no
// image is made, and the build names the file and the signature it wanted.
TEST(VmImage, ABootChainWithoutItsSignaturesMakesNoImage) {
    REQUIRE_VM();
    const std::string grub = read_file(signed_grub());
    struct Case {
        std::string shim, grub, said;
    };
    for (const Case& c : {Case{read_file(signed_shim()), without_signature(grub),
                               "grubx64.efi.signed does not carry the signature of Debian's Secure Boot CA"},
                          Case{grub, grub, "shimx64.efi.signed does not carry the signature of Microsoft's UEFI CA"}}) {
        ASSERT_FALSE(c.grub.empty());
        // A download cache with the packages of this one, the signed ones as the case has them.
        TempDir build(setup().dir);
        const std::string cache = signed_folder().substr(0, signed_folder().rfind('/'));
        const std::string vm = build.file("cache"), copied = vm + "/efi-signed/usr/lib";
        std::string output;
        ASSERT_TRUE(run("mkdir -p " + q(copied + "/shim") + " " + q(copied + "/grub/x86_64-efi-signed") + " && cp -rs " +
                            q(cache + "/kernel") + " " + q(cache + "/grub-pc") + " " + q(vm) + " && cp " +
                            q(cache + "/efi-signed/.packages") + " " + q(vm + "/efi-signed/") + " && { [ ! -d " +
                            q(cache + "/sbsigntool") + " ] || cp -rs " + q(cache + "/sbsigntool") + " " + q(vm) + "; }",
                        output))
            << output;
        write_file(copied + "/shim/shimx64.efi.signed", c.shim);
        write_file(copied + "/grub/x86_64-efi-signed/grubx64.efi.signed", c.grub);
        const std::string out = build.file("cd");
        EXPECT_FALSE(run("ZUVA_CACHE=" + q(vm) + " " + scripts + "/make-sample-cd --build " + q(ZUVA_BUILD_DIR) + " " + q(out),
                         output))
            << output;
        EXPECT_NE(output.find(c.said), std::string::npos) << output;
        EXPECT_NE(output.find("no image made"), std::string::npos) << output;
        EXPECT_NE(access((out + "/zuva-cd.iso").c_str(), F_OK), 0);
    }
}

// A PC as most are sold, Secure Boot on with Microsoft's keys, started from the image as a USB
// stick. First the control: the same firmware refuses the image's shim without its signature.
// Then the whole installation on the framebuffer console, every screen at 100x37, the kernel's
// own words at the live shell that Secure Boot was on and the kernel locked down (the USB
// drivers, Debian's modules, loaded under that lockdown), and the installed system started
// through the signed chain's hd entry.
TEST(VmInstall, UnderSecureBootTheImageInstallsAndStartsTheInstalledSystemAndAnUnsignedProgramIsRefused) {
    REQUIRE_VM();
    if (!setup().firmware_skip.empty()) GTEST_SKIP() << "UEFI: " << setup().firmware_skip;
    const std::vector<std::string> secure_stick = {"--uefi", "--secure-boot", "--usb", "--firmware", setup().firmware};
    {
        const std::string unsigned_image = image_with_unsigned_shim();
        ASSERT_FALSE(unsigned_image.empty()) << "the image holds no shim of " << signed_folder();
        Console control;
        ASSERT_TRUE(control.start_as(secure_stick, new_disk("disk-unsigned.img"), unsigned_image));
        EXPECT_TRUE(serial_shows(control.vm, "Access Denied", 120));
        const std::string said = control.vm.serial0();
        EXPECT_NE(said.find("failed to load Boot"), std::string::npos) << said.substr(0, 4000);
        EXPECT_EQ(said.find("GRUB"), std::string::npos) << said.substr(0, 4000);
        control.vm.kill_now();
    }
    ASSERT_FALSE(HasFailure()) << "the firmware does not enforce Secure Boot";

    const int checked_before = screens_checked;
    const std::string disk = new_disk("disk-secure-boot.img");
    {
        Console c;
        c.framebuffer = true;
        c.cols = 100;
        c.rows = 37;
        std::vector<std::string> options = secure_stick;
        options.insert(options.end(), {"--boot", "install"});
        ASSERT_TRUE(c.start_as(options, disk));
        const auto listing = c.to_confirmation("/dev/sdb");
        ASSERT_TRUE(listing);
        EXPECT_TRUE(lists(*listing, "/dev/sdb", "/cdrom")) << listing->dump();
        ASSERT_TRUE(c.install_from_confirmation());
        expect_sample_tree_on_target(c);
        const std::string locked = "Kernel is locked down from EFI Secure Boot";
        ASSERT_TRUE(c.type("dmesg | grep -i secure\r")) << c.vm.qmp.error;
        const auto proof = c.next([&](const ScreenCells& s) { return s.contains(locked); }, "the lockdown line");
        ASSERT_TRUE(proof);
        EXPECT_TRUE(proof->contains("secureboot: Secure boot enabled")) << proof->dump();
        for (int row = 1; row <= proof->rows; ++row) {
            const std::string line = proof->row(row);
            if (line.find(locked) != std::string::npos || line.find("Secure boot enabled") != std::string::npos)
                std::cout << "[ vm ] Secure Boot, the kernel said: " << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
        }
        c.end_with("poweroff");
        std::cout << "[ vm ] Secure Boot, USB stick: welcome box " << c.welcome_after << " s after QEMU's start; "
                  << screens_checked - checked_before << " screens of 100x37 checked, " << seconds_since(c.started) << " s\n";
    }
    ASSERT_FALSE(HasFailure());
    scenarios.push_back("Secure Boot: the unsigned shim refused, an installation from a USB stick, 100x37");

    Console hd;
    std::vector<std::string> options = secure_stick;
    options.insert(options.end(), {"--boot", "hd"});
    ASSERT_TRUE(hd.start_as(options, disk));
    EXPECT_TRUE(serial_shows(hd.vm, installed_banner, 120)) << hd.vm.serial0().substr(0, 20000);
    EXPECT_TRUE(hd.vm.report.screens.empty()) << "the live system ran instead";
    std::cout << "[ vm ] Secure Boot, hd entry: the installed system's banner " << seconds_since(hd.started) << " s after QEMU's start\n";
    if (!HasFailure()) scenarios.push_back("Secure Boot: the installed system through the hd entry");
}

// The serial entry with a terminal of 120x40 at the far end, which sends its answer to the
// cursor query in pieces: the installer draws its 80-column screens there, the rest empty.
TEST(VmInstall, TheSerialConsoleWithATerminalAnsweringInPiecesInstallsWithEveryScreenChecked) {
    REQUIRE_VM();
    const int checked_before = screens_checked;
    SerialTerminal terminal(120, 40);
    terminal.reply_piece = 3;
    Console c;
    c.cols = 120;
    c.rows = 40;
    ASSERT_TRUE(c.start_on_line(terminal, new_disk("disk-serial.img")));
    ASSERT_TRUE(c.to_confirmation());
    EXPECT_EQ(terminal.answers_sent, 1);
    // The cursor reported in pieces was taken: no move home before the default colours.
    EXPECT_NE(terminal.received.find("\x1b[6n\x1b[m"), std::string::npos);
    ASSERT_TRUE(c.install_from_confirmation());
    expect_sample_tree_on_target(c);
    c.end_with("poweroff");
    std::cout << "[ vm ] serial console 120x40: welcome box " << c.welcome_after << " s after QEMU's start; "
              << screens_checked - checked_before << " screens checked, " << seconds_since(c.started) << " s\n";
    if (!HasFailure()) scenarios.push_back("serial console, 120x40 terminal answering in pieces");
}

TEST(VmInstall, TheSerialConsoleWithNothingAnsweringStartsAtTheTopLeftAfterItsSecond) {
    REQUIRE_VM();
    SerialTerminal terminal(80, 25);
    terminal.answer_queries = false;
    Console c;
    ASSERT_TRUE(c.start_on_line(terminal));
    ASSERT_TRUE(terminal.wait_for_text("\x1b[6n", 120000)) << terminal.received;
    const Clock::time_point asked = Clock::now();
    ASSERT_TRUE(c.at(welcome));
    const double waited = seconds_since(asked);
    EXPECT_GE(waited, 0.9);
    EXPECT_NE(terminal.received.find("\x1b[6n\x1b[H\x1b[m"), std::string::npos);
    c.type("\x03");  // Ctrl+C
    const auto cleared = c.next(blank, "the cleared screen");
    ASSERT_TRUE(cleared);
    expect_cleared(*cleared);
    c.expect_end(130);
    c.end_with("poweroff");
    std::cout << "[ vm ] serial console, no answer: welcome box " << c.welcome_after << " s after QEMU's start, "
              << waited << " s after the query\n";
    if (!HasFailure()) scenarios.push_back("serial console with nothing answering, Ctrl+C");
}

// The image with another volume label, as a USB stick: the live system finds no ZUVA medium.
TEST(VmInstall, AUsbStickThatIsNoZuvaMediumSaysSoAndGivesAShell) {
    REQUIRE_VM();
    std::string image = read_file(setup().iso);
    ASSERT_GT(image.size(), 32768u + 72);
    const std::size_t volume_id = 32768 + 40;  // in the primary volume descriptor
    ASSERT_EQ(image.compare(volume_id, 13, "ZUVA_PRE1_2_0"), 0);
    image.replace(volume_id, 32, "SOMETHING_ELSE                  ");
    const std::string stick = setup().file("not-zuva.iso");
    write_file(stick, image);
    Console c;
    ASSERT_TRUE(c.start_as({"--usb"}, setup().disk, stick) && c.boot("install"));
    const std::string said = "is not a ZUVA medium";
    const std::string console = c.vm.wait_for_console(
        [&](const std::string& text) { return text.find(said) != std::string::npos && text.find(live_prompt) != std::string::npos; },
        240000);  // the live system's search for its medium first, slow beside the other builds
    EXPECT_NE(console.find(said), std::string::npos) << c.vm.console_text();
    EXPECT_NE(console.find(live_shell_line), std::string::npos) << console;
    c.vm.report.read_new();
    EXPECT_FALSE(c.vm.report.exit_status) << "an installer ran";
    c.end_with("poweroff");
    std::cout << "[ vm ] USB stick that is no ZUVA medium: said so, then the shell, " << seconds_since(c.started)
              << " s\n";
    if (!HasFailure()) scenarios.push_back("USB stick that is no ZUVA medium");
}

// A user who cannot see the screen: the speech entry typed at the boot prompt, an intel-hda card
// recorded, the whole installation with every screen checked and each answer typed once its
// screen has been read out, or after 3 s of a longer one, as one who has heard enough. Each
// screen's speech begins within a second and lasts while it is read; from the keys' echo on to
// the next screen nothing is spoken.
TEST(VmSpeech, EveryScreenOfAnInstallationThroughTheSpeechEntryIsSpokenWithinASecond) {
    REQUIRE_VM();
    const int checked_before = screens_checked;
    Recording sound{setup().file("speech.wav")};
    Console c;
    c.sound = &sound;
    ASSERT_TRUE(c.start_as({"--", "-audiodev", "wav,id=snd0,path=" + sound.path, "-device", "intel-hda", "-device",
                            "hda-output,audiodev=snd0"},
                           new_disk("disk-speech.img")) &&
                c.boot("speech"));
    ASSERT_TRUE(c.to_confirmation());
    ASSERT_TRUE(c.install_from_confirmation());
    c.hear("the live shell's prompt");
    expect_sample_tree_on_target(c);
    c.end_with("poweroff");
    ASSERT_GT(sound.seconds(), 0) << "nothing recorded: the machine never opened its sound card\n" << c.vm.serial0();
    std::string kept_heard;
    for (std::size_t i = 0; i < c.heard.size(); ++i) {
        const Heard& h = c.heard[i];
        if (std::isnan(h.seen)) {
            ADD_FAILURE() << "the recording had not begun at " << h.what;
            continue;
        }
        const double until = h.typed >= 0 ? h.typed : i + 1 < c.heard.size() ? c.heard[i + 1].seen : sound.seconds();
        const auto [first, last] = sound.sound(h.seen, until);
        EXPECT_GE(first, 0) << "nothing spoken for " << h.what;
        EXPECT_LE(first - h.seen, 1.0) << h.what;
        EXPECT_GE(last - first, 0.5) << h.what;
        if (h.typed >= 0 && i + 1 < c.heard.size()) {
            // What was typed, read back as it was typed, and nothing after it but the next
            // screen's speech: begun as it was drawn, before its whole picture reached the
            // report port, its pauses under a second.
            const double next = c.heard[i + 1].seen;
            auto between = sound.spans(h.typed, next, 1.0);
            if (!between.empty() && between.back().second > next - 0.05) between.pop_back();
            if (!between.empty() && between.front().first < h.after_keys + 0.5) between.erase(between.begin());
            EXPECT_TRUE(between.empty()) << "spoken after " << h.what << " (keys at " << h.typed << " to "
                                         << h.after_keys << " s) at " << between.front().first << " to "
                                         << between.front().second << " s, before " << c.heard[i + 1].what << " at " << next;
        }
        if (h.cut_off && i + 1 < c.heard.size()) {
            // The rest of a screen cut off is never read: quiet from a second after the keys until
            // the next screen (whose speech may begin half a second before its picture arrives).
            EXPECT_LT(sound.sound(h.after_keys + 1.0, c.heard[i + 1].seen - 0.5).first, 0)
                << h.what << ": still spoken after the keys at " << h.typed << " s";
        }
        std::ostringstream figures;
        figures << std::fixed << std::setprecision(2) << "speech: " << h.what << " -> first speech " << first - h.seen
                << " s, spoken " << last - first << " s" << (h.cut_off ? ", cut off by the keys" : "");
        speech_figures.push_back(figures.str());
        kept_heard += std::to_string(first) + " " + std::to_string(last) + " " + h.what + "\n";
    }
    keep(setup().dir, "speech-heard", HasFailure() ? "" : kept_heard);
    std::cout << "[ vm ] speech entry: " << screens_checked - checked_before << " screens checked, " << c.heard.size()
              << " heard, " << seconds_since(c.started) << " s\n";
    if (!HasFailure()) scenarios.push_back("speech entry with an intel-hda card, every screen heard");
}

// A second ear, independent of the sound's loudness: Debian's keyword spotter hears "welcome" in
// the welcome box's speech, and not in the next screen's.
TEST(VmSpeech, AKeywordSpotterHearsWelcomeInTheWelcomeBoxAndNotInTheNextScreen) {
    REQUIRE_VM();
    if (!setup().sphinx_skip.empty()) GTEST_SKIP() << "keyword spotter: " << setup().sphinx_skip;
    std::istringstream heard(kept(setup().dir, "speech-heard"));
    const std::string model = setup().sphinx + "/usr/share/pocketsphinx/model/en-us/",
                      libs = setup().sphinx + "/usr/lib/x86_64-linux-gnu";
    // How surely a cut holds "welcome" is the spotter's threshold at which it first hears it: from
    // strict to loose, the first threshold that hears anything must hear the welcome box and not
    // the next screen. (Single thresholds proved too narrow: the welcome box's first 3 s were
    // heard from 1e-20, 1e-20, 1e-25 and only 1e-40 down in four runs, the next screen in none
    // down to 1e-45.)
    Recording sound{setup().file("speech.wav")};
    std::string cuts[2], names[2];
    for (int i = 0; i < 2; ++i) {
        double first = -1, last = -1;
        ASSERT_TRUE(heard >> first >> last && std::getline(heard >> std::ws, names[i]))
            << "needs the installation through the speech entry before it";
        cuts[i] = setup().file("heard" + std::to_string(i) + ".wav");
        write_file(cuts[i], sound.wav_16khz(first - 0.3, last + 0.3));
    }
    const auto hears = [&](const std::string& cut, int exponent) {
        write_file(setup().file("keywords"), "welcome /1e-" + std::to_string(exponent) + "/\n");
        std::string output;
        EXPECT_TRUE(run("LD_LIBRARY_PATH=" + q(libs + ":" + libs + "/pulseaudio:" + libs + "/blas:" + libs + "/lapack") + " " +
                            q(setup().sphinx + "/usr/bin/pocketsphinx_continuous") + " -hmm " + q(model + "en-us") +
                            " -dict " + q(model + "cmudict-en-us.dict") + " -kws " + q(setup().file("keywords")) +
                            " -infile " + q(cut) + " -logfn /dev/null",
                        output))
            << output;
        return output.find("welcome") != std::string::npos;
    };
    int exponent = 10;
    bool welcome = false, next = false;
    for (; exponent <= 50 && !welcome && !next; exponent += 5) welcome = hears(cuts[0], exponent), next = hears(cuts[1], exponent);
    EXPECT_TRUE(welcome) << names[0] << ": not heard down to 1e-50";
    EXPECT_FALSE(next) << names[1] << ": heard at 1e-" << exponent - 5;
    std::cout << "[ vm ] keyword spotter: \"welcome\" first heard at 1e-" << exponent - 5 << " in " << (welcome ? names[0] : "")
              << (welcome && next ? " and " : "") << (next ? names[1] : "") << "\n";
}

// The speech entry's faults, its kernel started directly with the CD's files (no image made for
// each): without a sound card it says so on the screen and with the PC speaker's beeps, without
// its initramfs it starts as install does and says why; the installer starts in both.
TEST(VmSpeech, WithoutASoundCardOrItsInitramfsTheSpeechEntrySaysSoAndTheInstallerStarts) {
    REQUIRE_VM();
    const std::string files = setup().file("isolinux");
    std::string output;
    ASSERT_TRUE(run("xorriso -osirrox on -indev " + q(setup().iso) + " -extract /isolinux " + q(files), output)) << output;
    const std::string config = read_file(files + "/isolinux.cfg");
    std::smatch entry;  // the speech entry's kernel arguments after its initramfs
    ASSERT_TRUE(std::regex_search(config, entry, std::regex("LABEL speech\n(?:.*\n)*?  APPEND initrd=\\S+ (.*)"))) << config;
    // Both initramfs one after the other, as the boot loader loads them.
    std::string both = read_file(files + "/initrd.img");
    both.resize((both.size() + 3) / 4 * 4, '\0');
    write_file(files + "/both.img", both + read_file(files + "/speech.img"));
    for (const bool card_missing : {true, false}) {
        const std::string said = card_missing ? "This machine has no sound card that ZUVA's speech knows"
                                              : "This medium's speech part (isolinux/speech.img) is missing";
        Recording beeps{setup().file(card_missing ? "beeps.wav" : "silent.wav")};
        {
            Console c;
            ASSERT_TRUE(c.start_as({"--audio", "wav:" + beeps.path, "--", "-kernel", files + "/vmlinuz", "-initrd",
                                    files + (card_missing ? "/both.img" : "/initrd.img"), "-append", entry[1]}));
            const std::string console = c.vm.wait_for_console(
                [&](const std::string& text) { return text.find(said) != std::string::npos; }, 120000);
            EXPECT_NE(console.find(said), std::string::npos) << c.vm.console_text() << "\n" << c.vm.serial0();
            EXPECT_TRUE(c.at(welcome));
            std::cout << "[ vm ] speech entry, " << (card_missing ? "no sound card" : "no speech initramfs")
                      << ": said so, welcome box " << c.welcome_after << " s after QEMU's start\n";
        }
        EXPECT_TRUE(!card_missing || beeps.sound(0, beeps.seconds()).first >= 0) << "no beeps recorded";
    }
    if (!HasFailure()) scenarios.push_back("speech entry without a sound card, and without its initramfs");
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
    for (const char* name : pictures) {
        if (std::string(name) == "uefi-confirmation" && !setup().firmware_skip.empty()) continue;  // skipped there
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

// A recording as QEMU writes it (44.1 kHz stereo, its data size still 0 while the machine runs):
// 0.1 s of silence, 0.2 s of a tone in one channel, 0.2 s of silence; then the same at 16 kHz mono.
TEST(VmReport, ARecordingGivesWhereItsSoundBeginsAndEnds) {
    TempDir dir;
    std::string wav = Recording::header(44100, 2, 0);
    for (int i = 0; i < 22050; ++i)
        wav += Recording::le(static_cast<std::uint16_t>(std::lround(i >= 4410 && i < 13230 ? 8000 * std::sin(i * 0.06) : 0)), 2) + std::string(2, '\0');
    Recording recording{dir.file("a.wav")}, resampled{dir.file("b.wav")};
    write_file(recording.path, wav);
    EXPECT_NEAR(recording.seconds(), 0.5, 1e-9);
    write_file(resampled.path, recording.wav_16khz(0, 0.5));
    for (Recording* r : {&recording, &resampled}) {
        const auto [first, last] = r->sound(0.05, 0.5);
        EXPECT_NEAR(first, 0.1, 0.021) << r->path;
        EXPECT_NEAR(last, 0.3, 0.021) << r->path;
    }
    EXPECT_EQ(resampled.channels, 1);
    EXPECT_NEAR(resampled.seconds(), 0.5, 0.001);
}

// The figures of a run: those of one process, or the sums of those the scenarios' processes kept.
void print_report(const std::string& skip, int checked, std::size_t compared, int booted, double seconds,
                  const std::vector<std::string>& run, const std::vector<std::string>& speech) {
    for (const std::string& line : speech) std::cout << "[ vm report ] " << line << "\n";
    if (!skip.empty()) std::cout << "[ vm report ] skipped: " << skip << "\n";
    std::cout << "[ vm report ] " << checked << " console screens checked, " << compared
              << " entries of the sample tree compared with the target, " << booted << " VM boots, " << seconds
              << " s in all\n";
    std::cout << "[ vm report ] scenarios run: " << run.size();
    for (std::size_t i = 0; i < run.size(); ++i) std::cout << (i ? "; " : ": ") << run[i];
    std::cout << "\n";
}

// `--prepare`: the shared folder made for the scenarios after it. `--report`: their figures summed
// up, and the folder removed. Both under CTest, before and after the scenarios.
int shared_step(const std::string& step) {
    Setup s;
    s.dir = shared_dir();
    if (s.dir.empty()) {
        std::cerr << "vm_tests " << step << ": ZUVA_VM_DIR names no folder\n";
        return 2;
    }
    if (step == "--prepare") {
        prepare_shared(s);
        if (!s.failure.empty()) std::cout << s.failure << "\n";
        if (!s.skip.empty()) std::cout << "skipped: " << s.skip << "\n";
        if (!s.firmware_skip.empty()) std::cout << "the UEFI scenario will skip: " << s.firmware_skip << "\n";
        if (!s.sphinx_skip.empty()) std::cout << "the keyword spotter will skip: " << s.sphinx_skip << "\n";
        return !s.failure.empty() ? 1 : !s.skip.empty() ? 77 : 0;
    }
    int checked = 0, booted = 0;
    std::size_t compared = 0;
    double seconds = 0;
    std::vector<std::string> run, speech;
    std::istringstream tallies(kept(s.dir, "tallies"));
    for (std::string line; std::getline(tallies, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "scenario" || kind == "speech") {
            std::getline(fields >> std::ws, line);
            (kind == "speech" ? speech : run).push_back(line);
        } else {
            int c = 0, b = 0;
            std::size_t e = 0;
            double t = 0;
            fields >> c >> e >> b >> t;
            checked += c, compared += e, booted += b, seconds += t;
        }
    }
    print_report(kept(s.dir, "skip"), checked, compared, booted, seconds, run, speech);
    std::error_code ignored;
    std::filesystem::remove_all(s.dir, ignored);
    return 0;
}

}  // namespace

// Exit status: 1 when a test failed, else 77 when one skipped (CTest's SKIP_RETURN_CODE), else 0.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc == 2) return shared_step(argv[1]);
    // Ended from outside, the program still removes its scratch files (the CD, the disk and
    // every VM's, all in the one scratch directory); its QEMU ends with it.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, [](int s) { std::exit(128 + s); });
    const Clock::time_point start = Clock::now();
    const int failed = RUN_ALL_TESTS();
    if (shared_dir().empty()) {
        print_report(setup_made ? setup().skip : "", screens_checked, entries_compared, boots, seconds_since(start),
                     scenarios, speech_figures);
    } else if (setup_made) {
        std::ostringstream tally;
        tally << "count " << screens_checked << " " << entries_compared << " " << boots << " " << seconds_since(start)
              << "\n";
        for (const std::string& scenario : scenarios) tally << "scenario " << scenario << "\n";
        for (const std::string& line : speech_figures) tally << "speech " << line << "\n";
        keep(setup().dir, "tallies", kept(setup().dir, "tallies") + tally.str());
    }
    if (failed) return 1;
    return testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? 77 : 0;
}
