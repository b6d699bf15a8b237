// The live system's tools on the ZUVA CD, run as the CD runs them: zuva-console-report between
// the installer and the report port, zuva-manifest saying what reached the target.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/terminal.h"
#include "tools/tree_manifest.h"

using zuva::test::TempDir;

namespace {

using zuva::test::lines_of;

const std::string tools = zuva::test::shell_quoted(ZUVA_TOOLS_DIR);  // in command lines only

int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// coreutils' encoding, to hold the tool's own against.
std::string base64_of(const std::string& file) { return zuva::test::output_of("base64 -w0 " + file); }

TEST(ConsoleReport, SendsEveryScreenChangeTheLastOneAtTheEndAndTheExitStatus) {
    TempDir dir;
    std::string vcsa = dir.file("vcsa"), port = dir.file("port"), tty = dir.file("tty");
    zuva::test::write_file(vcsa, std::string("\x19\x50\x00\x00", 4) + std::string(4000, '\x07'));
    std::string first = base64_of(vcsa);
    // The serial line and the console are there before the tool runs, as devices are.
    zuva::test::write_file(port, "");
    zuva::test::write_file(tty, "");
    // A change while the program runs, made once the screen before it went out, another just
    // before it ends; its output goes to TTY.
    const std::string sent = "sent() { i=0; until grep -q \"$1\" " + port +
                             " || [ $i -ge 1000 ]; do sleep 0.01; i=$((i+1)); done; }; ";
    std::string program = sent + "echo on the console; sent SCREEN; printf B > " + vcsa + "; sent Qg==; printf CC > " +
                          vcsa + "; exit 3";
    EXPECT_EQ(run(tools + "/zuva-console-report " + tty + " " + vcsa + " " + port + " /bin/sh -c '" + program + "'"), 3);
    std::vector<std::string> lines = lines_of(zuva::test::read_file(port));
    ASSERT_EQ(lines.size(), 5u) << zuva::test::read_file(port);
    EXPECT_EQ(lines[0], "SCREEN " + first);
    EXPECT_EQ(lines[1], "SCREEN Qg==");
    EXPECT_EQ(lines[2], "SCREEN Q0M=");
    // A plain file has no terminal modes to compare.
    EXPECT_EQ(lines[3], "TERMINAL-ATTRS - -");
    EXPECT_EQ(lines[4], "INSTALLER-EXIT 3");
    EXPECT_EQ(zuva::test::read_file(tty), "on the console\n");

    zuva::test::write_file(port, "");
    EXPECT_EQ(run(tools + "/zuva-console-report " + tty + " " + vcsa + " " + port + " /bin/sh -c 'kill -TERM $$'"),
              128 + 15);
    lines = lines_of(zuva::test::read_file(port));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "INSTALLER-SIGNAL 15");

    // On a terminal: the modes the program found, and those it left.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const std::string pty = ptsname(master);
    const auto modes = [&](const std::string& program) {
        zuva::test::write_file(port, "");
        run(tools + "/zuva-console-report " + pty + " " + vcsa + " " + port + " /bin/sh -c '" + program + "'");
        for (const std::string& line : lines_of(zuva::test::read_file(port)))
            if (line.rfind("TERMINAL-ATTRS ", 0) == 0) return line.substr(15);
        return std::string("none");
    };
    const auto halves = [](const std::string& both) {
        const std::size_t space = both.find(' ');
        return std::pair(both.substr(0, space), space == std::string::npos ? "" : both.substr(space + 1));
    };
    const auto given_back = halves(modes("m=$(stty -g); stty raw -echo; stty $m"));
    const auto left_raw = halves(modes("stty raw -echo"));
    EXPECT_NE(given_back.first.find(':'), std::string::npos) << given_back.first;
    EXPECT_EQ(given_back.first, given_back.second);
    EXPECT_NE(left_raw.second.find(':'), std::string::npos) << left_raw.second;
    EXPECT_NE(left_raw.first, left_raw.second);
    close(master);
}

TEST(ManifestTool, PrintsTheManifestTextAndComparesACopyWithIt) {
    TempDir original, copy, out;
    zuva::test::write_file(original.file(".release"), "top-level dot file\n");
    ASSERT_EQ(run("mkdir " + original.file("sub")), 0);
    zuva::test::write_file(original.file("sub/file"), "content\n");
    std::string text = out.file("original.txt");
    ASSERT_EQ(run(tools + "/zuva-manifest " + original.path + " > " + text), 0);
    EXPECT_EQ(zuva::test::read_file(text), zuva::manifest::manifest_text(zuva::manifest::walk_tree(original.path)));

    // As the installer copies: the wildcard leaves the top-level dot name out; the target
    // has a lost+found of its own.
    ASSERT_EQ(run("cp -a " + original.path + "/* " + copy.path + "/ && mkdir " + copy.file("lost+found")), 0);
    std::string report = out.file("report.txt");
    EXPECT_EQ(run(tools + "/zuva-manifest --compare " + text + " " + copy.path + " > " + report), 0);
    EXPECT_NE(zuva::test::read_file(report).find("cp -ra /vdr/* /drive/: .release\n"), std::string::npos)
        << zuva::test::read_file(report);

    zuva::test::write_file(copy.file("sub/file"), "changed\n");
    EXPECT_EQ(run(tools + "/zuva-manifest --compare " + text + " " + copy.path + " > " + report), 1);
    EXPECT_NE(zuva::test::read_file(report).find("  sub/file: content differs\n"), std::string::npos)
        << zuva::test::read_file(report);
    EXPECT_EQ(run(tools + "/zuva-manifest --compare " + out.file("none") + " " + copy.path + " 2> /dev/null"), 2);
}

// What try says after the machine comes from the view's reading of the report port: the
// installer's last screen (not the live shell's after it), its end, the manifests.
TEST(ConsoleView, ReadsTheInstallersEndItsLastScreenAndTheManifestsFromTheReport) {
    TempDir dir;
    const std::string report = dir.file("report"), said = dir.file("said");
    ASSERT_EQ(run("mkdir " + said), 0);
    // 2 rows of 3 columns: "ABC" over a blank row; then the live shell's "XYZ".
    zuva::test::write_file(report, "SCREEN AgMBAEEHQnBD8AAAAQIDBA==\nTERMINAL-ATTRS 1:2:3:4 1:2:3:4\n"
                                   "INSTALLER-EXIT 0\nSCREEN AgMBAFgHWQdaBwAAAQIDBA==\nMANIFEST target\n"
                                   "bin\tdirectory\nMANIFEST-END\nMANIFEST image none\nMANIFEST-END\n"
                                   "REPORT-END\nSCREEN AgMB");
    ASSERT_EQ(run(tools + "/zuva-console-view --result " + report + " " + said), 0);
    EXPECT_EQ(zuva::test::read_file(said + "/end"), "exit 0\n");
    EXPECT_EQ(zuva::test::read_file(said + "/screen"), "ABC\n");
    EXPECT_EQ(zuva::test::read_file(said + "/target"), "bin\tdirectory\n");
    EXPECT_EQ(access((said + "/complete").c_str(), F_OK), 0);
    EXPECT_NE(access((said + "/image").c_str(), F_OK), 0) << "no image was read";

    // Cut off before the installer's end: nothing to say.
    zuva::test::write_file(report, "SCREEN AgMBAEEHQnBD8AAAAQIDBA==\nINSTALLER-EX");
    ASSERT_EQ(run("rm " + said + "/*"), 0);
    ASSERT_EQ(run(tools + "/zuva-console-view --result " + report + " " + said), 0);
    EXPECT_NE(access((said + "/end").c_str(), F_OK), 0);
    EXPECT_NE(access((said + "/complete").c_str(), F_OK), 0);
}

}  // namespace
