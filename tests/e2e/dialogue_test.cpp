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

struct ScreenSize {
    int cols, rows;
};

// The layout is made for 80 columns: on a larger terminal the screens are the same, the rest empty.
class DialogueOnScreen : public ::testing::TestWithParam<ScreenSize> {};

TEST_P(DialogueOnScreen, FullInstallationShowsEveryScreenAndRunsEveryCommand) {
    Session s(GetParam().cols, GetParam().rows);
    ASSERT_TRUE(s.start(waiting_command(s, "cp")));  // waits until the copy screen was seen
    const VtScreen& screen = s.program.screen;

    ASSERT_TRUE(s.shown(welcome) && s.answer(welcome, ""));

    ASSERT_TRUE(s.shown(interest));
    s.program.type("y");
    ASSERT_TRUE(s.program.wait_for([&] { return screen.cursor_column() == 40; })) << screen.dump();
    EXPECT_EQ(screen.text(38, 14, 3), "_y_");
    EXPECT_EQ(screen.attr(39, 14), box_colours);
    s.program.type("\r");

    ASSERT_TRUE(s.shown(warranty) && s.answer(warranty, ""));

    ASSERT_TRUE(s.shown(cd_device) && s.answer(cd_device, "/dev/hdc"));

    ASSERT_TRUE(s.shown(mount_check));
    EXPECT_TRUE(screen.contains("would mount /dev/hdc on /cdrom")) << screen.dump();
    EXPECT_TRUE(screen.contains("Filesystem")) << screen.dump();
    ASSERT_TRUE(s.answer(mount_check, "y"));

    ASSERT_TRUE(s.shown(target_device) && s.answer(target_device, "/dev/hda1"));

    ASSERT_TRUE(s.shown(mount_check) && s.answer(mount_check, "y"));

    // The confirmation lists the target mount's df.tmp again, from the top of a cleared screen.
    ASSERT_TRUE(s.at(confirmation));
    const std::vector<std::string> df_lines = lines_of(read_file(s.dir.file("df.tmp")));
    ASSERT_GE(df_lines.size(), 3u);
    EXPECT_NE(read_file(s.dir.file("df.tmp")).find("/dev/hda1"), std::string::npos);
    expect_listing_at_top(s.cells(), df_lines);
    expect_question_screen(s.cells(), confirmation);
    ASSERT_TRUE(s.answer(confirmation, "y"));

    // The copy screen, while cp is running; the loop mount wrote from the top left corner.
    ASSERT_TRUE(s.program.wait_for([&] { return access(s.dir.file("cp.waiting").c_str(), F_OK) == 0; }));
    ASSERT_TRUE(s.program.wait_for([&] {
        return screen.row(1).rfind("mount (stand-in): would mount /cdrom/zuvahd.img on /vdr", 0) == 0;
    })) << screen.dump();
    expect_copy_screen(s.cells());
    write_file(s.dir.file("cp.go"), "");

    ASSERT_TRUE(s.shown(completion) && s.answer(completion, ""));

    EXPECT_EQ(s.exit_status(), 0);
    expect_closing_screen(s.cells());
    EXPECT_EQ(s.commands(), (std::vector<std::string>{words("mount /dev/hdc /cdrom"), "df",
                                                      words("mount /dev/hda1 /drive"), "df",
                                                      words("mount -o loop /cdrom/zuvahd.img /vdr"),
                                                      expected_copy()}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, DialogueOnScreen, ::testing::Values(ScreenSize{80, 25}, ScreenSize{100, 37}, ScreenSize{120, 40}),
                         [](const auto& size) {
                             return std::to_string(size.param.cols) + "x" + std::to_string(size.param.rows);
                         });

// The answer to the cursor query at start as a slow serial line brings it: in pieces behind keys
// typed ahead, or after the second the installer waits for it. None of it becomes a typed key.
TEST(Dialogue, ACursorReplyInPiecesOrLateIsNeitherTypedNorTakenAsConsent) {
    const auto started = [](Session& s) {
        s.program.answer_queries = false;
        return s.start() && s.program.wait_for([&] { return s.program.output.find("\x1b[6n") != std::string::npos; });
    };
    {
        Session s;
        ASSERT_TRUE(started(s));
        for (const char* piece : {"\r\r", "\x1b", "[1", "2;4", "0R"}) {
            s.program.type(piece);
            ASSERT_TRUE(s.program.took_typed()) << "each piece in a read of its own";
        }
        ASSERT_TRUE(s.at(welcome));
        ASSERT_TRUE(s.program.waits_for_keys());
        expect_question_screen(s.cells(), welcome);  // the Enters typed ahead went with the reply
        EXPECT_EQ(s.program.output.rfind("\x1b[6n\x1b[m", 0), 0u) << "the position was not taken";
    }
    {
        Session s;
        ASSERT_TRUE(started(s));
        ASSERT_TRUE(s.at(welcome));
        EXPECT_EQ(s.program.output.rfind("\x1b[6n\x1b[H\x1b[m", 0), 0u);
        ASSERT_TRUE(s.answer(welcome, ""));
        ASSERT_TRUE(s.at(interest));
        s.program.type("\x1b[12;40R");
        ASSERT_TRUE(s.program.waits_for_keys());
        expect_question_screen(s.cells(), interest);
        ASSERT_TRUE(s.answer(interest, "n"));
        EXPECT_EQ(s.exit_status(), 0);
        expect_cleared(s.cells());
        EXPECT_TRUE(s.commands().empty());
    }
}

TEST(Dialogue, SkippedMountsListDfFromTheTopAndNoAtTheConfirmationCancels) {
    Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.answers({{&welcome, ""}, {&interest, "y"}, {&warranty, ""}, {&cd_device, "s"}}));
    ASSERT_TRUE(s.at(mount_check));
    expect_listing_at_top(s.cells(), lines_of(read_file(s.dir.file("df.tmp"))));
    ASSERT_TRUE(s.answers({{&mount_check, ""}, {&target_device, "s"}, {&mount_check, "y"}, {&confirmation, "n"}}));

    EXPECT_EQ(s.exit_status(), 0);
    expect_cancel_screen(s.cells());
    EXPECT_EQ(s.commands(), (std::vector<std::string>{"df", "df"}));
}

// Answers in turn from the start; then the end: status 0, a cleared screen, these commands run.
void expect_cleared_end(std::initializer_list<std::pair<const Question*, std::string_view>> steps,
                        const std::vector<std::string>& commands) {
    Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.answers(steps));
    EXPECT_EQ(s.exit_status(), 0);
    expect_cleared(s.cells());
    EXPECT_EQ(s.commands(), commands);
}

TEST(Dialogue, NoAtTheInterestQuestionEndsOnACleanScreen) {
    expect_cleared_end({{&welcome, "anything"}, {&interest, "n"}}, {});
}

TEST(Dialogue, QuitAtEitherMountCheckEndsAfterClearing) {
    // "q" counts only at the mount checks.
    expect_cleared_end({{&welcome, ""}, {&interest, "q"}, {&warranty, ""}, {&cd_device, "/dev/hdc"}, {&mount_check, "q"}},
                       {words("mount /dev/hdc /cdrom"), "df"});
    expect_cleared_end({{&welcome, ""}, {&interest, ""}, {&warranty, ""}, {&cd_device, "s"}, {&mount_check, ""},
                        {&target_device, "/dev/hda1"}, {&mount_check, "q"}},
                       {"df", words("mount /dev/hda1 /drive"), "df"});
}

TEST(Dialogue, NoAtAMountCheckAsksTheInterestQuestionOverTheListingAndRepeatsTheMounts) {
    Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.answers({{&welcome, ""}, {&interest, "y"}, {&warranty, ""}, {&cd_device, "s"}, {&mount_check, "n"}}));

    // Not cleared: the listing stays above the interest question's box.
    ASSERT_TRUE(s.at(interest));
    expect_listing_at_top(s.cells(), lines_of(read_file(s.dir.file("df.tmp"))));
    expect_box(s.cells(), 43);
    ASSERT_TRUE(s.answers({{&interest, "y"}, {&warranty, ""}, {&cd_device, "/dev/hdc"}, {&mount_check, "y"},
                           {&target_device, "/dev/sdb1"}, {&mount_check, "n"}}));
    ASSERT_TRUE(s.at(interest));
    EXPECT_TRUE(s.program.screen.contains("Filesystem")) << s.program.screen.dump();
    ASSERT_TRUE(s.answer(interest, "n"));

    EXPECT_EQ(s.exit_status(), 0);
    expect_cleared(s.cells());
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
    expect_closing_screen(s.cells());
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
        ASSERT_TRUE(s.answers({{&interest, "y"}, {&warranty, ""}, {&cd_device, *device},
                               {&mount_check, device == &d300 ? "q" : "n"}}));
    }
    EXPECT_EQ(s.exit_status(), 0);
    EXPECT_EQ(s.commands(), (std::vector<std::string>{"mount\t" + d242 + "\t/cdrom", "df",
                                                      "mount\t" + d243 + "\t/cdro", "df",
                                                      "mount\t" + d249, "df",
                                                      "mount\t" + d300.substr(0, 249), "df"}));
}

}  // namespace
