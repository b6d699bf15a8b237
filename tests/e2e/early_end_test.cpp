// Answers piped in with the output in a file, and input that ends before a question is answered:
// the end of input is never taken as an answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/dialogue_session.h"
#include "tests/installer/redirected_run.h"

namespace {

using namespace zuva::test;

// Every question of a full installation in order, with the answer given and the commands that
// the answer leads to.
struct Step {
    const Question* question;
    std::string answer;
    std::vector<std::string> commands;
};

std::vector<Step> full_installation() {
    return {{&welcome, "", {}},
            {&interest, "y", {}},
            {&warranty, "", {}},
            {&cd_device, "/dev/hdc", {words("mount /dev/hdc /cdrom"), "df"}},
            {&mount_check, "y", {}},
            {&target_device, "/dev/hda1", {words("mount /dev/hda1 /drive"), "df"}},
            {&mount_check, "y", {}},
            {&confirmation, "y", {words("mount -o loop /cdrom/zuvahd.img /vdr"), expected_copy()}},
            {&completion, "", {}}};
}

RedirectedRun run_piped(const Session& s, std::string_view input) {
    return run_redirected({ZUVA_INSTALL_PATH}, input, s.dir.file("screen.out"), s.environment(), s.dir.path);
}

TEST(RedirectedDialogue, WritesNoEscapeSequencesAndRunsTheSameCommands) {
    Session s;
    std::string input;
    std::vector<std::string> expected;
    for (const Step& step : full_installation()) {
        input += step.answer + "\n";
        expected.insert(expected.end(), step.commands.begin(), step.commands.end());
    }
    RedirectedRun run = run_piped(s, input);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos);
    for (std::string_view text : {welcome.text, warranty.text, confirmation.text, completion.text,
                                  std::string_view("Filesystem"), closing_lines[0], closing_lines[1]})
        EXPECT_NE(run.output.find(text), std::string::npos) << text;
    ASSERT_GT(run.output.size(), closing_lines[2].size());
    EXPECT_EQ(run.output.substr(run.output.size() - closing_lines[2].size() - 1), std::string(closing_lines[2]) + "\n");
    EXPECT_EQ(s.commands(), expected);
}

TEST(EarlyEnd, PipedInputEndingBeforeALineEndStopsTheDialogueAtThatQuestion) {
    const std::vector<Step> steps = full_installation();
    for (size_t stop = 0; stop < steps.size(); ++stop) {
        // Nothing at all, or an answer that would have gone on had its line been ended.
        for (const std::string& unfinished : {std::string(), steps[stop].answer + "y"}) {
            SCOPED_TRACE("input ends at: " + std::string(steps[stop].question->text) + ", after \"" +
                         unfinished + "\"");
            Session s;
            std::string input;
            std::vector<std::string> expected;
            for (size_t i = 0; i < stop; ++i) {
                input += steps[i].answer + "\n";
                expected.insert(expected.end(), steps[i].commands.begin(), steps[i].commands.end());
            }
            RedirectedRun run = run_piped(s, input + unfinished);
            ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
            EXPECT_EQ(WEXITSTATUS(run.status), 0);
            EXPECT_EQ(s.commands(), expected);
            EXPECT_EQ(run.output.find("Runtime error"), std::string::npos) << run.output;
            // Only the completion screen goes on to the closing lines: the copy is done by then.
            const bool closing_shown = run.output.find(closing_lines[2]) != std::string::npos;
            EXPECT_EQ(closing_shown, steps[stop].question == &completion);
        }
    }
}

TEST(EarlyEnd, TerminalHangingUpAtAQuestionStopsTheDialogueThere) {
    const std::vector<Step> steps = full_installation();
    for (size_t stop : {1u, 3u, 6u, 7u}) {
        SCOPED_TRACE("hang-up at: " + std::string(steps[stop].question->text));
        Session s;
        ASSERT_TRUE(s.start());
        std::vector<std::string> expected;
        for (size_t i = 0; i < stop; ++i) {
            ASSERT_TRUE(s.answer(*steps[i].question, steps[i].answer));
            expected.insert(expected.end(), steps[i].commands.begin(), steps[i].commands.end());
        }
        ASSERT_TRUE(s.at(*steps[stop].question)) << s.program.screen.dump();
        s.program.type("y");  // typed, but never ended by Enter
        s.program.pump(50);
        s.program.hang_up();
        EXPECT_EQ(s.exit_status(), 0);
        EXPECT_EQ(s.commands(), expected);
    }
}

}  // namespace
