#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/installer/redirected_run.h"
#include "tests/support/terminal.h"

namespace {

using zuva::test::exit_shown;
using zuva::test::is_hex8;
using zuva::test::lines_of;

using zuva::test::RedirectedRun;
using zuva::test::TempDir;
using zuva::test::write_file;

const std::string probe = std::string(ZUVA_PROBE_DIR) + "/installer_screen_probe";

RedirectedRun run_probe(const TempDir& dir, std::vector<std::string> script) {
    script.insert(script.begin(), probe);
    return zuva::test::run_redirected(script, "", dir.file("probe.out"), {}, dir.path);
}

TEST(FileListing, ListsEveryLineWhetherOrNotTheLastOneIsEnded) {
    TempDir dir;
    write_file(dir.file("ended"), "Filesystem 1K-blocks\n/dev/hdc 654336\n\nlast\n");
    write_file(dir.file("unended"), "Filesystem 1K-blocks\n/dev/hdc 654336\n\nlast");
    write_file(dir.file("crlf"), "one\r\ntwo\r\n");
    RedirectedRun run = run_probe(dir, {"list:ended", "list:unended", "list:crlf"});
    EXPECT_EQ(exit_shown(run.status), "exit status 0");
    EXPECT_EQ(run.output,
              "Filesystem 1K-blocks\n/dev/hdc 654336\n\nlast\n"
              "Filesystem 1K-blocks\n/dev/hdc 654336\n\nlast\n"
              "one\ntwo\n");
}

TEST(FileListing, EmptyFileListsOneEmptyLine) {
    TempDir dir;
    write_file(dir.file("empty"), "");
    RedirectedRun run = run_probe(dir, {"list:empty"});
    EXPECT_EQ(run.output, "\n");
    EXPECT_EQ(run.status, 0);
}

TEST(FileListing, OverlongLineIsCutAndTheNextLineFollows) {
    TempDir dir;
    const std::string long_line = std::string(255, 'x') + std::string(45, 'y');
    write_file(dir.file("long"), long_line + "\nnext line\n");
    RedirectedRun run = run_probe(dir, {"list:long"});
    EXPECT_EQ(run.output, std::string(255, 'x') + "\nnext line\n");
    EXPECT_EQ(run.status, 0);
}

TEST(FileListing, FilesLongerThanOneBufferListWhole) {
    TempDir dir;
    std::string content;
    for (int i = 0; i < 60; ++i) content += "/dev/sd" + std::to_string(i) + "  2064208  32828  1926524  2% /mnt\n";
    write_file(dir.file("long"), content);
    write_file(dir.file("exact"), std::string(255, 'z') + "\n");  // one refill of 256 bytes
    RedirectedRun run = run_probe(dir, {"list:long", "list:exact"});
    EXPECT_EQ(run.status, 0);
    // Past the bottom row the console ends each line with CR LF; the text is what counts here.
    std::string text;
    for (char c : run.output)
        if (c != '\r') text += c;
    EXPECT_EQ(text, content + std::string(255, 'z') + "\n");
}

TEST(FileListing, EachListingReleasesItsDescriptor) {
    TempDir dir;
    write_file(dir.file("df.tmp"), "a\nb\n");
    RedirectedRun run =
        run_probe(dir, {"free-descriptor:", "list:df.tmp", "list:df.tmp", "list:df.tmp", "free-descriptor:"});
    std::vector<std::string> lines = lines_of(run.output);
    ASSERT_EQ(lines.size(), 8u) << run.output;
    EXPECT_EQ(lines.front(), lines.back());
    EXPECT_EQ(run.status, 0);
}

TEST(FileListing, MissingFileEndsTheProgramWithErrorTwoBeforeAnyOutput) {
    TempDir dir;
    RedirectedRun run = run_probe(dir, {"list:df.tmp"});
    EXPECT_EQ(exit_shown(run.status), "exit status 2");
    std::vector<std::string> lines = lines_of(run.output);
    ASSERT_GE(lines.size(), 3u) << run.output;
    ASSERT_EQ(lines[0].rfind("Runtime error 2 at 0x", 0), 0u) << run.output;
    EXPECT_TRUE(is_hex8(lines[0].substr(21))) << lines[0];
    EXPECT_EQ(lines[1], "  0x" + lines[0].substr(21));
    EXPECT_EQ(lines.back(), "");
}

TEST(FileListing, UnreadableNameEndsTheProgramWithErrorFive) {
    TempDir dir;
    mkdir(dir.file("df.tmp").c_str(), 0755);
    RedirectedRun run = run_probe(dir, {"list:df.tmp"});
    EXPECT_EQ(exit_shown(run.status), "exit status 5");
    EXPECT_EQ(run.output.rfind("Runtime error 5 at 0x", 0), 0u) << run.output;
}

}  // namespace
