// The whole dialogue on a terminal, answered as a user would, one path of the flow per test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/dialogue_session.h"

namespace {

using namespace zuva::test;

// Checks the frame of a box whose message has the given length, and its colours; rows after
// last_framed_row are covered by what the screen wrote over the box.
void expect_box(const VtScreen& screen, int length, int last_framed_row = 15) {
    const int left = 37 - length / 2;
    const int right = left + length + 5;
    const std::string border = "+--" + std::string(length, '-') + "--+";
    EXPECT_EQ(screen.text(left, 10, length + 6), border) << screen.dump();
    if (last_framed_row == 15) {
        EXPECT_EQ(screen.text(left, 15, length + 6), border) << screen.dump();
    }
    for (int row = 11; row <= std::min(last_framed_row, 14); ++row) {
        EXPECT_EQ(screen.at(left, row), U'|') << "row " << row << "\n" << screen.dump();
        EXPECT_EQ(screen.at(right, row), U'|') << "row " << row << "\n" << screen.dump();
        EXPECT_EQ(screen.attr(left, row), box_colours) << "row " << row;
    }
    EXPECT_EQ(screen.attr(right, 10), box_colours);
}

// Rows 1 to n show exactly these lines, light grey on black.
void expect_listing_at_top(const VtScreen& screen, const std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        EXPECT_EQ(screen.row(row), lines[i] + std::string(80 - lines[i].size(), ' ')) << screen.dump();
        EXPECT_EQ(screen.attr(1, row), plain_colours) << "row " << row;
    }
}

void expect_closing_screen(const VtScreen& screen) {
    for (int row = 1; row <= 3; ++row) {
        const std::string line(closing_lines[row - 1]);
        EXPECT_EQ(screen.row(row), line + std::string(80 - line.size(), ' ')) << screen.dump();
        EXPECT_EQ(screen.attr(1, row), plain_colours);
    }
    for (int row = 4; row <= 25; ++row) EXPECT_EQ(screen.row(row), std::string(80, ' ')) << screen.dump();
}

void expect_cleared(const VtScreen& screen) {
    for (int row = 1; row <= 25; ++row) EXPECT_EQ(screen.row(row), std::string(80, ' ')) << screen.dump();
    EXPECT_EQ(screen.attr(40, 12), plain_colours);
    EXPECT_EQ(screen.cursor_column(), 1);
    EXPECT_EQ(screen.cursor_row(), 1);
}

TEST(Dialogue, FullInstallationShowsEveryScreenAndRunsEveryCommand) {
    Session s;
    ASSERT_TRUE(s.start(waiting_command(s, "cp")));  // waits until the copy screen was seen
    const VtScreen& screen = s.program.screen;

    ASSERT_TRUE(s.at(welcome)) << screen.dump();
    expect_box(screen, 39);
    EXPECT_EQ(screen.text(21, 12, 39), welcome.text);
    EXPECT_EQ(screen.text(38, 14, 4), "[Ok]");
    ASSERT_TRUE(s.answer(welcome, ""));

    ASSERT_TRUE(s.at(interest)) << screen.dump();
    expect_box(screen, 43);
    EXPECT_EQ(screen.text(30, 14, 19), "([y]/n) ___________");
    EXPECT_EQ(screen.attr(30, 14), box_colours);
    s.program.type("y");
    ASSERT_TRUE(s.program.wait_for([&] { return screen.cursor_column() == 40; })) << screen.dump();
    EXPECT_EQ(screen.text(38, 14, 3), "_y_");
    EXPECT_EQ(screen.attr(39, 14), box_colours);
    s.program.type("\r");

    ASSERT_TRUE(s.at(warranty)) << screen.dump();
    expect_box(screen, 49);
    EXPECT_EQ(screen.text(16, 12, 49), "OK! Just follow me and READ EVERYTHING!          ");
    EXPECT_EQ(screen.text(17, 13, 46), warranty.text);
    EXPECT_EQ(screen.text(38, 14, 4), "[Ok]");
    ASSERT_TRUE(s.answer(warranty, ""));

    ASSERT_TRUE(s.at(cd_device)) << screen.dump();
    expect_box(screen, 58);
    EXPECT_EQ(screen.text(12, 13, 58), "e.g. \"/dev/hdc\"  or  \"s\" - skip(already mounted on /cdrom)");
    EXPECT_EQ(screen.text(15, 14, 31), "(Dev:) ________________________");
    EXPECT_EQ(screen.attr(15, 14), box_colours);
    ASSERT_TRUE(s.answer(cd_device, "/dev/hdc"));

    ASSERT_TRUE(s.at(mount_check)) << screen.dump();
    expect_box(screen, 40);
    EXPECT_TRUE(screen.contains("would mount /dev/hdc on /cdrom")) << screen.dump();
    EXPECT_TRUE(screen.contains("Filesystem")) << screen.dump();
    EXPECT_EQ(screen.text(30, 14, 21), "([y]/n/q) ___________");
    ASSERT_TRUE(s.answer(mount_check, "y"));

    ASSERT_TRUE(s.at(target_device)) << screen.dump();
    expect_box(screen, 66);
    EXPECT_EQ(screen.text(12, 13, 60), "e.g. \"/dev/hda1\"   or    \"s\"-skip(already mounted on /drive)");
    EXPECT_EQ(screen.text(15, 14, 31), "(Dev:) ________________________");
    ASSERT_TRUE(s.answer(target_device, "/dev/hda1"));

    ASSERT_TRUE(s.answer(mount_check, "y"));

    // The confirmation lists the target mount's df.tmp again, from the top of a cleared screen.
    ASSERT_TRUE(s.at(confirmation)) << screen.dump();
    const std::vector<std::string> df_lines = split_lines(read_file(s.dir.file("df.tmp")));
    ASSERT_GE(df_lines.size(), 3u);
    EXPECT_NE(read_file(s.dir.file("df.tmp")).find("/dev/hda1"), std::string::npos);
    expect_listing_at_top(screen, df_lines);
    expect_box(screen, 67);
    EXPECT_EQ(screen.text(8, 13, 67), "Are you sure that the filesystem you mounted can fit 80 mb of data?");
    EXPECT_EQ(screen.text(30, 14, 19), "([y]/n) ___________");
    ASSERT_TRUE(s.answer(confirmation, "y"));

    // The copy screen, while cp is running; the loop mount wrote from the top left corner.
    ASSERT_TRUE(s.program.wait_for([&] { return access(s.dir.file("cp.waiting").c_str(), F_OK) == 0; }));
    s.program.pump(200);
    EXPECT_EQ(screen.row(1).rfind("mount (stand-in): would mount /cdrom/zuvahd.img on /vdr", 0), 0u) << screen.dump();
    expect_box(screen, 41, 13);
    EXPECT_EQ(screen.text(17, 14, 8), "|       ");
    EXPECT_EQ(screen.text(17, 15, 8), "+-------");
    EXPECT_EQ(screen.text(20, 12, 41), "Installing software without prompting!!!!");
    EXPECT_EQ(screen.text(25, 14, 47), "Sit down and relax. Any problems will pop-up...");
    EXPECT_EQ(screen.text(25, 15, 47), "....................enjoy the silence..........");
    write_file(s.dir.file("cp.go"), "");

    ASSERT_TRUE(s.at(completion)) << screen.dump();
    expect_box(screen, 66);
    EXPECT_EQ(screen.text(7, 12, 66), "Hey! Neo! Wake up!! I'm ready! If you don't see any weird messages");
    EXPECT_EQ(screen.text(10, 14, 57), completion.text);
    ASSERT_TRUE(s.answer(completion, ""));

    EXPECT_EQ(s.exit_status(), 0);
    expect_closing_screen(screen);
    EXPECT_EQ(s.commands(), (std::vector<std::string>{words("mount /dev/hdc /cdrom"), "df",
                                                      words("mount /dev/hda1 /drive"), "df",
                                                      words("mount -o loop /cdrom/zuvahd.img /vdr"),
                                                      expected_copy()}));
}

TEST(Dialogue, SkippedMountsListDfFromTheTopAndNoAtTheConfirmationCancels) {
    Session s;
    ASSERT_TRUE(s.start());
    const VtScreen& screen = s.program.screen;
    ASSERT_TRUE(s.answer(welcome, ""));
    ASSERT_TRUE(s.answer(interest, "y"));
    ASSERT_TRUE(s.answer(warranty, ""));
    ASSERT_TRUE(s.answer(cd_device, "s"));
    ASSERT_TRUE(s.at(mount_check)) << screen.dump();
    expect_listing_at_top(screen, split_lines(read_file(s.dir.file("df.tmp"))));
    ASSERT_TRUE(s.answer(mount_check, ""));
    ASSERT_TRUE(s.answer(target_device, "s"));
    ASSERT_TRUE(s.answer(mount_check, "y"));
    ASSERT_TRUE(s.answer(confirmation, "n"));

    EXPECT_EQ(s.exit_status(), 0);
    expect_listing_at_top(screen, {"Oh dear! You canceld before the install?!",
                                   "Next time just write \"s\" to skip when mounting cdrom and drive!"});
    for (int row = 3; row <= 25; ++row) EXPECT_EQ(screen.row(row), std::string(80, ' ')) << screen.dump();
    EXPECT_EQ(s.commands(), (std::vector<std::string>{"df", "df"}));
}

TEST(Dialogue, NoAtTheInterestQuestionEndsOnACleanScreen) {
    Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.answer(welcome, "anything"));
    ASSERT_TRUE(s.answer(interest, "n"));
    EXPECT_EQ(s.exit_status(), 0);
    expect_cleared(s.program.screen);
    EXPECT_TRUE(s.commands().empty());
}

TEST(Dialogue, QuitAtEitherMountCheckEndsAfterClearing) {
    {
        Session s;
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(s.answer(welcome, ""));
        ASSERT_TRUE(s.answer(interest, "q"));  // "q" counts only at the mount checks
        ASSERT_TRUE(s.answer(warranty, ""));
        ASSERT_TRUE(s.answer(cd_device, "/dev/hdc"));
        ASSERT_TRUE(s.answer(mount_check, "q"));
        EXPECT_EQ(s.exit_status(), 0);
        expect_cleared(s.program.screen);
        EXPECT_EQ(s.commands(), (std::vector<std::string>{words("mount /dev/hdc /cdrom"), "df"}));
    }
    {
        Session s;
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(s.answer(welcome, ""));
        ASSERT_TRUE(s.answer(interest, ""));
        ASSERT_TRUE(s.answer(warranty, ""));
        ASSERT_TRUE(s.answer(cd_device, "s"));
        ASSERT_TRUE(s.answer(mount_check, ""));
        ASSERT_TRUE(s.answer(target_device, "/dev/hda1"));
        ASSERT_TRUE(s.answer(mount_check, "q"));
        EXPECT_EQ(s.exit_status(), 0);
        expect_cleared(s.program.screen);
        EXPECT_EQ(s.commands(), (std::vector<std::string>{"df", words("mount /dev/hda1 /drive"), "df"}));
    }
}

TEST(Dialogue, NoAtAMountCheckAsksTheInterestQuestionOverTheListingAndRepeatsTheMounts) {
    Session s;
    ASSERT_TRUE(s.start());
    const VtScreen& screen = s.program.screen;
    ASSERT_TRUE(s.answer(welcome, ""));
    ASSERT_TRUE(s.answer(interest, "y"));
    ASSERT_TRUE(s.answer(warranty, ""));
    ASSERT_TRUE(s.answer(cd_device, "s"));
    ASSERT_TRUE(s.answer(mount_check, "n"));

    // Not cleared: the listing stays above the interest question's box.
    ASSERT_TRUE(s.at(interest)) << screen.dump();
    expect_listing_at_top(screen, split_lines(read_file(s.dir.file("df.tmp"))));
    expect_box(screen, 43);
    ASSERT_TRUE(s.answer(interest, "y"));
    ASSERT_TRUE(s.answer(warranty, ""));
    ASSERT_TRUE(s.answer(cd_device, "/dev/hdc"));
    ASSERT_TRUE(s.answer(mount_check, "y"));
    ASSERT_TRUE(s.answer(target_device, "/dev/sdb1"));
    ASSERT_TRUE(s.answer(mount_check, "n"));
    ASSERT_TRUE(s.at(interest)) << screen.dump();
    EXPECT_TRUE(screen.contains("Filesystem")) << screen.dump();
    ASSERT_TRUE(s.answer(interest, "n"));

    EXPECT_EQ(s.exit_status(), 0);
    expect_cleared(screen);
    EXPECT_EQ(s.commands(), (std::vector<std::string>{"df", words("mount /dev/hdc /cdrom"), "df",
                                                      words("mount /dev/sdb1 /drive"), "df"}));
}

// One pass from the welcome box to the closing lines with the answers given in order.
void expect_full_installation(const std::vector<std::string>& answers, const std::vector<std::string>& commands) {
    const std::vector<const Question*> prompts = {&welcome, &interest, &warranty, &cd_device, &mount_check,
                                                  &target_device, &mount_check, &confirmation, &completion};
    ASSERT_EQ(answers.size(), prompts.size());
    Session s;
    ASSERT_TRUE(s.start());
    size_t i = 0;
    for (const auto* prompt : prompts) ASSERT_TRUE(s.answer(*prompt, answers[i++])) << "answer " << i;
    EXPECT_EQ(s.exit_status(), 0);
    expect_closing_screen(s.program.screen);
    EXPECT_EQ(s.commands(), commands);
}

TEST(Dialogue, OnlyTheExactLowerCaseNCancels) {
    // The shell splits " s" into the word s: the device went into the command unchanged.
    expect_full_installation({"", "no", "", "S", "N", " s", "nnnnnn", "N", ""},
                             {words("mount S /cdrom"), "df", words("mount s /drive"), "df",
                              words("mount -o loop /cdrom/zuvahd.img /vdr"), expected_copy()});
    // "mount  /cdrom": the shell gives mount the mount point alone.
    expect_full_installation({"", "n ", "", "", "Y", "", "", "q", "whatever"},
                             {words("mount /cdrom"), "df", words("mount /drive"), "df",
                              words("mount -o loop /cdrom/zuvahd.img /vdr"), expected_copy()});
}

TEST(Dialogue, LongDeviceNamesAreCutToAMountCommandOfTwoHundredFiftyFiveCharacters) {
    Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.answer(welcome, ""));
    const std::string d242 = "/dev/" + std::string(237, 'a'), d243 = "/dev/" + std::string(238, 'b');
    const std::string d249 = "/dev/" + std::string(244, 'c'), d300 = "/dev/" + std::string(295, 'd');
    for (const std::string* device : {&d242, &d243, &d249, &d300}) {
        ASSERT_TRUE(s.answer(interest, "y"));
        ASSERT_TRUE(s.answer(warranty, ""));
        ASSERT_TRUE(s.answer(cd_device, *device));
        ASSERT_TRUE(s.answer(mount_check, device == &d300 ? "q" : "n"));
    }
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.commands(), (std::vector<std::string>{"mount\t" + d242 + "\t/cdrom", "df",
                                                      "mount\t" + d243 + "\t/cdro", "df",
                                                      "mount\t" + d249, "df",
                                                      "mount\t" + d300.substr(0, 249), "df"}));
}

}  // namespace
