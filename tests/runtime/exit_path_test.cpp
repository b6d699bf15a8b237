// The one exit path seen from outside: exit status, the run-time error report, faults.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/terminal.h"

using zuva::test::PtyProgram;

namespace {

using zuva::test::exit_shown;
using zuva::test::function_at;
using zuva::test::is_hex8;
using zuva::test::lines_of;

const std::string probe = std::string(ZUVA_PROBE_DIR) + "/runtime_report_probe";

struct ProbeRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the probe with descriptor 1 and 2 on pipes and the given input.
ProbeRun run_probe(std::vector<std::string> args, const std::string& input = "", int kill_after_ready = 0) {
    int out[2], err[2], in[2];
    pipe(out);
    pipe(err);
    pipe(in);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(in[1]);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv{const_cast<char*>(probe.c_str())};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(126);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!input.empty()) write(in[1], input.data(), input.size());
    close(in[1]);
    ProbeRun r;
    char buf[4096];
    if (kill_after_ready) {
        // Wait for "ready" on descriptor 2, then send the signal from outside.
        while (r.err.find("ready") == std::string::npos) {
            ssize_t n = read(err[0], buf, sizeof buf);
            if (n <= 0) break;
            r.err.append(buf, static_cast<size_t>(n));
        }
        kill(pid, kill_after_ready);
    }
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    while ((n = read(err[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
    close(out[0]);
    close(err[0]);
    waitpid(pid, &r.status, 0);
    return r;
}

unsigned long address_in(const std::string& line) {
    return std::stoul(line.substr(line.find("0x") + 2), nullptr, 16);
}

bool is_frame_line(const std::string& line) { return line.rfind("  0x", 0) == 0 && is_hex8(line.substr(4)); }

// "Runtime error N at 0xHHHHHHHH": the number and the address digits, or empty strings.
std::pair<std::string, std::string> parse_header(const std::string& line) {
    const std::string start = "Runtime error ", middle = " at 0x";
    size_t at = line.find(middle);
    if (line.rfind(start, 0) != 0 || at == std::string::npos) return {};
    std::string number = line.substr(start.size(), at - start.size());
    std::string address = line.substr(at + middle.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number[0] == '0' ||
        !is_hex8(address))
        return {};
    return {number, address};
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

TEST(ExitPathTest, NormalEndIsSilentWithStatusZero) {
    ProbeRun r = run_probe({"normal"});
    EXPECT_EQ(exit_shown(r.status), "exit status 0");
    EXPECT_EQ(r.out, "");
}

TEST(ExitPathTest, StandardStreamsReadAndWriteLines) {
    ProbeRun r = run_probe({"echo"}, "one\r\ntwo\rthree");
    EXPECT_EQ(exit_shown(r.status), "exit status 0");
    EXPECT_EQ(r.out, "one\ntwo\nthree\n");
}

TEST(ExitPathTest, FailedOpenReportsEveryFrameOutToTheEntry) {
    ProbeRun r = run_probe({"missing"});
    EXPECT_EQ(exit_shown(r.status), "exit status 2");
    auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    auto [number, address] = parse_header(lines[0]);
    EXPECT_EQ(number, "2") << lines[0];
    EXPECT_EQ(lines[1], "  0x" + address);
    EXPECT_TRUE(is_frame_line(lines[2]));
    EXPECT_TRUE(is_frame_line(lines[3]));
    EXPECT_EQ(lines[4], "");

    EXPECT_NE(function_at(probe, address_in(lines[0])).find("fail_open"), std::string::npos) << lines[0];
    EXPECT_NE(function_at(probe, address_in(lines[2])).find("main_routine"), std::string::npos) << lines[2];
    EXPECT_EQ(function_at(probe, address_in(lines[3])), "zuva_call_outermost");
}

TEST(ExitPathTest, FrameWalkStopsAfter257LinesInAFileAndNineOnATerminal) {
    ProbeRun r = run_probe({"deep", "300"});
    EXPECT_EQ(exit_shown(r.status), "exit status 2");
    auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u + 257u + 1u);
    for (size_t i = 2; i < 259; ++i) ASSERT_TRUE(is_frame_line(lines[i])) << i;

    // A shallow walk ends at the outermost frame well before the limit.
    EXPECT_EQ(lines_of(run_probe({"deep", "20"}).out).size(), 2u + 23u + 1u);

    PtyProgram pty;
    ASSERT_TRUE(pty.start({probe, "deep", "300"}));
    EXPECT_EQ(exit_shown(pty.wait_exit(10000)), "exit status 2");
    std::string text = pty.output;
    size_t frames = 0;
    for (size_t at = 0; (at = text.find("  0x", at)) != std::string::npos; ++at) ++frames;
    EXPECT_EQ(frames, 1u + 9u) << text;
}

TEST(ExitPathTest, SignalsFromOutsideEndThroughTheReport) {
    std::map<int, int> expected = {{SIGSEGV, 216}, {SIGBUS, 216}, {SIGILL, 216}, {SIGFPE, 200}};
    for (auto [signal, number] : expected) {
        ProbeRun r = run_probe({"wait"}, "", signal);
        EXPECT_EQ(exit_shown(r.status), "exit status " + std::to_string(number)) << "signal " << signal;
        auto lines = lines_of(r.out);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(parse_header(lines[0]).first, std::to_string(number)) << r.out;
    }
}

TEST(ExitPathTest, FaultsInTheProgramGiveTheirNumbersAtTheFaultingCode) {
    ProbeRun null = run_probe({"null"});
    EXPECT_EQ(exit_shown(null.status), "exit status 216");
    auto lines = lines_of(null.out);
    ASSERT_GE(lines.size(), 4u) << null.out;
    EXPECT_NE(function_at(probe, address_in(lines[0])).find("main_routine"), std::string::npos) << lines[0];
    EXPECT_EQ(lines.back(), "");

    EXPECT_EQ(exit_shown(run_probe({"divide"}).status), "exit status 200");

    ProbeRun overflow = run_probe({"overflow"});
    EXPECT_EQ(exit_shown(overflow.status), "exit status 216") << "a stack overflow must end through the report";
    EXPECT_EQ(parse_header(first_line(overflow.out)).first, "216");
}

TEST(ExitPathTest, AFaultWhileEndingKeepsTheDecidedStatus) {
    EXPECT_EQ(exit_shown(run_probe({"fault-at-exit"}).status), "exit status 2");
}

TEST(ExitPathTest, ABadStandardStreamModeIsError102) {
    ProbeRun r = run_probe({"bad-standard-stream"});
    EXPECT_EQ(exit_shown(r.status), "exit status 102");
    EXPECT_EQ(parse_header(first_line(r.out)).first, "102");
}
