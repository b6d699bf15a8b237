// Answers piped in with the output in a file, and input that ends before a question is answered:
// the end of input is never taken as an answer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <glob.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
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

// Answers the first count questions on the terminal as a user would, adding the commands that
// those answers lead to.
bool answer_first(Session& s, const std::vector<Step>& steps, size_t count, std::vector<std::string>& expected) {
    for (size_t i = 0; i < count; ++i) {
        if (!s.answer(*steps[i].question, steps[i].answer)) return false;
        expected.insert(expected.end(), steps[i].commands.begin(), steps[i].commands.end());
    }
    return true;
}

// The answers to the first count questions as lines, adding the commands they lead to.
std::string answer_lines(const std::vector<Step>& steps, size_t count, std::vector<std::string>& expected) {
    std::string input;
    for (size_t i = 0; i < count; ++i) {
        input += steps[i].answer + "\n";
        expected.insert(expected.end(), steps[i].commands.begin(), steps[i].commands.end());
    }
    return input;
}

RedirectedRun run_piped(const Session& s, std::string_view input) {
    return run_redirected({ZUVA_INSTALL_PATH}, input, s.dir.file("screen.out"), s.environment(), s.dir.path);
}

TEST(RedirectedDialogue, WritesNoEscapeSequencesAndRunsTheSameCommands) {
    Session s;
    std::vector<std::string> expected;
    RedirectedRun run = run_piped(s, answer_lines(full_installation(), full_installation().size(), expected));
    EXPECT_EQ(exit_shown(run.status), "exit status 0");
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
            std::vector<std::string> expected;
            RedirectedRun run = run_piped(s, answer_lines(steps, stop, expected) + unfinished);
            EXPECT_EQ(exit_shown(run.status), "exit status 0");
            EXPECT_EQ(s.commands(), expected);
            EXPECT_EQ(run.output.find("Runtime error"), std::string::npos) << run.output;
            // Only the completion screen goes on to the closing lines: the copy is done by then.
            const bool closing_shown = run.output.find(closing_lines[2]) != std::string::npos;
            EXPECT_EQ(closing_shown, steps[stop].question == &completion);
        }
    }
}

// The installer's screen as the dialogue's own endings leave it: cleared, light grey on black.
void expect_screen_reset(const VtScreen& screen) {
    for (int row = 10; row <= 15; ++row) EXPECT_EQ(screen.row(row), std::string(80, ' ')) << screen.dump();
    EXPECT_EQ(screen.attr(40, 12), plain_colours);
}

// Also a SIGHUP sent with kill, the terminal still there: the screen cleared, its modes given back.
TEST(EarlyEnd, TerminalHangingUpAtAQuestionStopsTheDialogueThere) {
    const std::vector<Step> steps = full_installation();
    for (bool real : {true, false}) {
        for (size_t stop : {1u, 3u, 6u, 7u}) {
            SCOPED_TRACE(std::string(real ? "hang-up" : "kill -HUP") + " at: " + std::string(steps[stop].question->text));
            Session s;
            std::vector<std::string> expected;
            ASSERT_TRUE(s.start() && answer_first(s, steps, stop, expected) && s.at(*steps[stop].question));
            s.program.type("y");  // typed, but never ended by Enter
            const Question& q = *steps[stop].question;
            ASSERT_TRUE(s.program.wait_for([&] { return s.program.screen.text(q.column, q.row, 1) == "y"; }));
            if (real) {
                s.program.hang_up();
            } else {
                kill(s.program.pid, SIGHUP);
            }
            EXPECT_EQ(s.exit_status(), 0);
            EXPECT_EQ(s.commands(), expected);
            if (!real) {
                EXPECT_TRUE(attributes_as_new(s.program.master));
                expect_screen_reset(s.program.screen);
            }
            EXPECT_EQ(processes_in(s.dir.path), std::vector<pid_t>{});
        }
    }
}

TEST(EarlyEnd, CtrlCAtAQuestionEndsThereWith130AndCtrlDOnAnEmptyAnswerGivesUp) {
    const std::vector<Step> steps = full_installation();
    for (size_t stop = 0; stop < steps.size(); ++stop) {
        for (auto [keys, status] : {std::pair{"y\x03", 130}, std::pair{"\x04", 0}}) {
            SCOPED_TRACE(testing::PrintToString(std::string(keys)) + " at: " + std::string(steps[stop].question->text));
            Session s;
            std::vector<std::string> expected;
            ASSERT_TRUE(s.start() && answer_first(s, steps, stop, expected) && s.at(*steps[stop].question));
            s.program.type(keys);
            const bool at_completion = steps[stop].question == &completion;
            // At the completion line the install is done: Ctrl+C closes it like Enter.
            EXPECT_EQ(s.exit_status(), at_completion ? 0 : status);
            EXPECT_EQ(s.commands(), expected);
            EXPECT_TRUE(attributes_as_new(s.program.master));
            EXPECT_EQ(s.program.screen.contains(closing_lines[2]), at_completion);
            if (!at_completion) expect_screen_reset(s.program.screen);
        }
    }
}

// True once the process is gone or a zombie, within two seconds.
bool ends_soon(pid_t pid) {
    return wait_until([pid] { return process_state(pid) == 0 || process_state(pid) == 'Z'; }, 2000);
}

pid_t child_of(pid_t pid) {
    return std::atoi(read_file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children").c_str());
}

bool appears(Session& s, const std::string& name) {
    // A command may start a hundred processes first: slow on a busy machine, so only a hang fails.
    return s.program.wait_for([&] { return access(s.dir.file(name).c_str(), F_OK) == 0; }, 30000);
}

void expect_death_by(int status, int signal) {
    ASSERT_TRUE(status != -1 && WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
}

TEST(EarlyEnd, AKillFromOutsideGivesTheTerminalBackAndDiesByTheSameSignal) {
    const std::vector<Step> steps = full_installation();
    // Where the signal comes: at a question, while df runs, during the copy.
    struct Place {
        size_t answered;  // questions answered before it
        const char* waiting;
    };
    for (Place place : {Place{1, nullptr}, Place{4, "df"}, Place{8, "cp"}}) {
        for (int signal : {SIGTERM, SIGINT, SIGQUIT}) {
            SCOPED_TRACE(std::string(strsignal(signal)) + " after " + std::to_string(place.answered) + " answers");
            Session s;
            ASSERT_TRUE(s.start(place.waiting ? waiting_command(s, place.waiting) : ""));
            std::vector<std::string> expected;
            ASSERT_TRUE(answer_first(s, steps, place.answered, expected));
            if (place.waiting) {
                const std::string marker = s.dir.file(std::string(place.waiting) + ".waiting");
                // Its number written, not only its file made: the command is under way.
                ASSERT_TRUE(s.program.wait_for([&] { return !read_file(marker).empty(); }));
                expected.erase(std::find_if(expected.begin(), expected.end(),
                                            [&](const std::string& c) { return c.rfind(place.waiting, 0) == 0; }),
                               expected.end());
            } else {
                ASSERT_TRUE(s.at(*steps[place.answered].question));
            }
            kill(s.program.pid, signal);
            expect_death_by(s.program.wait_exit(), signal);
            // The command went with it, though the shell that started it waits on SIGINT.
            EXPECT_TRUE(!place.waiting || ends_soon(std::stoi(read_file(s.dir.file(std::string(place.waiting) + ".waiting")))));
            EXPECT_TRUE(attributes_as_new(s.program.master));
            expect_screen_reset(s.program.screen);
            EXPECT_EQ(s.commands(), expected);
        }
    }
}

// Waiting for a line from a FIFO that never ends it, or from /dev/zero, which always has more: a
// signal from outside ends the wait at once.
TEST(EarlyEnd, ASignalEndsTheWaitForALineFromAFifoOrDevZero) {
    for (const std::string input : {"fifo", "/dev/zero"}) {
        for (int signal : {SIGTERM, SIGINT, SIGQUIT}) {
            SCOPED_TRACE(input + ", " + strsignal(signal));
            Session s;
            const std::string fifo = s.dir.file("fifo");
            ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
            ASSERT_TRUE(s.program.start({"/bin/sh", "-c", std::string("exec '") + ZUVA_INSTALL_PATH + "' < " +
                                                              (input == "fifo" ? fifo : input)},
                                        s.environment(), s.dir.path));
            const int writer = open(fifo.c_str(), O_RDWR);  // open to the end: the line never comes
            ASSERT_TRUE(s.program.wait_for_text(welcome.text)) << s.program.screen.dump();
            if (input == "fifo") {
                ASSERT_EQ(write(writer, "\n", 1), 1);
                ASSERT_TRUE(s.program.wait_for_text(interest.text)) << s.program.screen.dump();
            }
            kill(s.program.pid, signal);
            expect_death_by(s.program.wait_exit(2000), signal);
            close(writer);
            EXPECT_TRUE(attributes_as_new(s.program.master));
            expect_screen_reset(s.program.screen);
        }
    }
}

// A signal at any moment around the start of a command (before the fork, between the fork and
// the wait, while the shell starts) reaches the installer's wait and the command: none is missed.
TEST(EarlyEnd, ASignalAroundTheStartOfACommandIsNeverMissed) {
    // The command marks its end: a command the signal missed runs to it. How the installer ended
    // and that mark decide, however slowly a loaded machine gets there.
    Session s;
    const std::string bin = command_script(s, "mount", "echo $$ > mount.pid\nsleep 5\necho > mount.ran\n");
    const std::string marker = s.dir.file("mount.pid"), ran = s.dir.file("mount.ran");
    // The command's processes that outlive its shell are reaped here, at once, as the live
    // system's init does: a zombie left for a slow init keeps the installer waiting for it.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    auto run = [&](const std::function<void(pid_t)>& meanwhile) {
        unlink(marker.c_str());
        unlink(ran.c_str());
        return run_redirected({ZUVA_INSTALL_PATH}, "\ny\n\n/dev/hdc\n", s.dir.file("screen.out"),
                              s.environment(bin), s.dir.path, 10000, {}, -1, [&](pid_t pid) {
                                  meanwhile(pid);
                                  siginfo_t ended{};
                                  // Until the installer itself has ended, left for run_redirected.
                                  wait_until([&] {
                                      ended.si_pid = 0;
                                      if (waitid(P_ALL, 0, &ended, WEXITED | WNOHANG | WNOWAIT) != 0) return true;
                                      if (ended.si_pid == 0 || ended.si_pid == pid) return ended.si_pid == pid;
                                      waitpid(ended.si_pid, nullptr, 0);
                                      return false;
                                  }, 10000);
                              });
    };
    // When the installer forks the command once the answers are in; the signals are spread from
    // half that time to half as long again. Wherever each one lands, none may be missed: the
    // result does not hang on the moments.
    auto started = std::chrono::steady_clock::now();
    std::chrono::microseconds to_fork{0};
    run([&](pid_t pid) {
        const std::string children = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
        // As soon as it is there: the moment is measured.
        while (read_file(children).empty()) {
            if (std::chrono::steady_clock::now() - started > std::chrono::seconds(10)) {
                ADD_FAILURE() << "the installer forked no command within 10 s";
                break;
            }
            usleep(10);
        }
        to_fork = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
        kill(pid, SIGTERM);  // ends the command too: none left to write its mark into a later run
    });
    constexpr int runs = 200;
    int missed = 0;
    std::string how;  // each miss: its round, how the installer ended, whether its command stayed
    for (int i = 0; i < runs; ++i) {
        RedirectedRun r = run([&](pid_t pid) {
            usleep(static_cast<useconds_t>(to_fork.count() * (runs + 2 * i) / (2 * runs)));
            kill(pid, SIGTERM);
        });
        const bool ended = r.status != -1 && WIFSIGNALED(r.status) && WTERMSIG(r.status) == SIGTERM;
        const std::string command = read_file(marker);
        const bool command_left = (!command.empty() && !ends_soon(std::stoi(command))) || access(ran.c_str(), F_OK) == 0;
        if (!ended || command_left)
            ++missed, how += " round " + std::to_string(i) + ": " + (r.status == -1 ? "no end in 10 s" : exit_shown(r.status)) +
                             (command_left ? ", the command ran on" : "") + ";";
    }
    EXPECT_EQ(missed, 0) << "of " << runs << " signals; the fork comes " << to_fork.count() << " us in;" << how;
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// Commands that take the terminal's foreground (bash with job control), ignore the signal and run
// longer than the test, or start more than 64 processes, side by side or in a chain 150 deep: the
// installer still dies by the signal on a terminal given back, and no process of theirs is left.
TEST(EarlyEnd, NoProcessOfACommandOutlivesAnEndingSignal) {
    const std::pair<std::string, std::string> scripts[] = {
        {"/bin/bash", "set -m\ntrap '' INT TERM QUIT\necho $$ > mount.waiting\nsleep 600\n"},
        {"/bin/sh", "trap '' INT\nfor i in $(seq 100); do sleep 600 & done\necho $$ > mount.waiting\nwait\n"},
        {"/bin/sh", "f() { if [ $1 -gt 0 ]; then f $(($1 - 1)) & wait; else echo $$ > mount.waiting; sleep 600; fi; }\n"
                    "f 150\n"}};
    auto end_during = [](const std::pair<std::string, std::string>& script, int signal, const std::string& limits) {
        Session s;
        std::vector<std::string> commands;
        ASSERT_TRUE(s.program.start({"/bin/sh", "-c", limits + "exec '" + ZUVA_INSTALL_PATH + "'"},
                                    s.environment(command_script(s, "mount", script.second, script.first)), s.dir.path));
        ASSERT_TRUE(answer_first(s, full_installation(), 4, commands) && appears(s, "mount.waiting"));
        kill(s.program.pid, signal);
        expect_death_by(s.program.wait_exit(3000), signal);
        EXPECT_TRUE(attributes_as_new(s.program.master));
        expect_screen_reset(s.program.screen);
        EXPECT_EQ(processes_in(s.dir.path), std::vector<pid_t>{});
    };
    for (const auto& script : scripts) {
        for (int signal : {SIGTERM, SIGINT}) {
            SCOPED_TRACE(script.second + strsignal(signal));
            end_during(script, signal, "");
        }
    }
    // However few files the installer may open (bash runs its script with as few, dash does not).
    for (int limit : {4, 5, 6, 64}) {
        SCOPED_TRACE("ulimit -n " + std::to_string(limit));
        end_during({"/bin/bash", "trap '' INT\ni=0\nwhile [ $i -lt 100 ]; do sleep 600 & i=$((i + 1)); done\n"
                               "/bin/echo $$ > mount.waiting\nwait\n"},
                   SIGTERM, "ulimit -n " + std::to_string(limit) + "; ");
    }
}

// The installer started with SIGHUP ignored (nohup) keeps it ignored for its commands, so a
// hang-up cannot cut the copy short.
TEST(RedirectedDialogue, SigHupIgnoredAtStartStaysIgnoredForTheCommands) {
    std::vector<std::string> commands;
    const std::string input = answer_lines(full_installation(), full_installation().size(), commands);
    Session s;
    const std::string bin = s.dir.file("bin");
    mkdir(bin.c_str(), 0755);
    write_file(bin + "/cp", "#!/bin/sh\nsed -n 's/^SigIgn:\\t//p' /proc/self/status > ignored\n", 0755);
    RedirectedRun run = run_redirected({"/bin/sh", "-c", std::string("trap '' HUP; exec '") + ZUVA_INSTALL_PATH + "'"},
                                       input, s.dir.file("screen.out"), s.environment(bin), s.dir.path);
    EXPECT_EQ(exit_shown(run.status), "exit status 0");
    EXPECT_EQ(std::stoull(read_file(s.dir.file("ignored")), nullptr, 16) & 1, 1u) << "SIGHUP, bit 0";
    EXPECT_EQ(processes_in(s.dir.path), std::vector<pid_t>{});
}

// The installer started from bash with job control, stopped (SIGTSTP from outside) or sent to the
// background, and ended from bash: `kill %1` sends SIGTERM and SIGCONT, and the installer must not
// stop again before it acts on the SIGTERM. During a command, all of its processes (more than 64
// here) stop with the installer, and a SIGTERM that comes while they are stopped ends them all
// once bash continues the job.
TEST(EarlyEnd, AStoppedOrBackgroundInstallerEndsFromTheJobControlShell) {
    for (const std::string how : {"stopped at a question", "stopped in a command", "started with &", "sent on with bg"}) {
        SCOPED_TRACE(how);
        Session s;
        const std::string bin = command_script(
            s, "df", "for i in $(seq 70); do sleep 600 & done\necho $$ > df.waiting\nwait\n");
        ASSERT_TRUE(s.program.start({"/bin/bash", "--norc", "--noprofile", "-i"}, s.environment(bin), s.dir.path));
        s.program.type("PS1='$ '; set -b; stty -g > before; touch started\r");
        ASSERT_TRUE(appears(s, "started"));
        const std::string install = std::string("'") + ZUVA_INSTALL_PATH + "'";
        const pid_t shell = s.program.pid;
        auto installer = [&] { return child_of(shell); };
        // Typing waits for bash's prompt: taking the terminal back, bash drops what came before.
        auto stop = [&](int signal) {
            const size_t shown = s.program.output.size();
            kill(installer(), signal);
            ASSERT_TRUE(s.program.wait_for([&] {
                const size_t report = s.program.output.find("Stopped", shown);
                return report != std::string::npos && s.program.output.find("$ ", report) != std::string::npos;
            })) << s.program.screen.dump();
        };
        if (how == "started with &") {
            s.program.type(install + " &\r");
            ASSERT_TRUE(s.program.wait_for([&] { return installer() > 0 && process_state(installer()) == 'T'; }));
        } else {
            s.program.type(install + "\r");
            ASSERT_TRUE(s.at(welcome));
        }
        const pid_t ending = installer();
        if (how == "stopped at a question") {
            // Whoever stopped it (SIGSTOP, or SIGTSTP, which gives the terminal back), after `fg`
            // it takes raw mode again and puts the cursor back, once.
            for (int signal : {SIGSTOP, SIGTSTP}) {
                stop(signal);
                const size_t shown = s.program.output.size();
                s.program.type("fg\r");
                ASSERT_TRUE(s.program.wait_for([&] { return s.program.output.find("\x1b[14;42H", shown) != std::string::npos; }));
                // A key's echo is written after all that the continuation wrote: up to it, the
                // cursor is put back once; Backspace leaves the answer empty again.
                s.program.type("y");
                ASSERT_TRUE(s.program.wait_for([&] { return s.program.screen.text(42, 14, 1) == "y"; }));
                const std::string after = s.program.output.substr(shown, s.program.output.find('y', shown) - shown);
                EXPECT_EQ(after.find("\x1b[14;42H"), after.rfind("\x1b[14;42H")) << strsignal(signal);
                s.program.type("\x7f");
                ASSERT_TRUE(s.program.wait_for([&] { return s.program.screen.text(42, 14, 1) == " "; }));
                termios raw{};
                EXPECT_TRUE(tcgetattr(s.program.master, &raw) == 0 && !(raw.c_lflag & (ICANON | ECHO | ISIG)));
            }
            stop(SIGTSTP);
            s.program.type("kill %1\r");
        } else if (how == "stopped in a command") {
            std::vector<std::string> commands;
            ASSERT_TRUE(answer_first(s, full_installation(), 4, commands) && appears(s, "df.waiting"));
            stop(SIGTSTP);
            const std::vector<pid_t> command = processes_in(s.dir.path, shell);
            EXPECT_GT(command.size(), 70u);
            // A stop takes effect once each has been scheduled again.
            EXPECT_TRUE(s.program.wait_for([&] {
                return std::all_of(command.begin(), command.end(), [](pid_t pid) { return process_state(pid) == 'T'; });
            }, 3000));
            kill(installer(), SIGTERM);
            s.program.type("fg\r");
        } else {
            if (how == "sent on with bg") {
                stop(SIGTSTP);
                const size_t shown = s.program.output.size();
                s.program.type("bg\r");
                // It stops again as soon as it takes raw mode from the background, and bash says so.
                ASSERT_TRUE(s.program.wait_for([&] { return s.program.output.find("Stopped", shown) != std::string::npos; }));
            }
            s.program.type("kill %1\r");
        }
        // By SIGTERM: bash's report, or, while bash has not reaped it (its job table can lag behind
        // a job that is continued and ends at once), the status the ended installer holds.
        EXPECT_TRUE(s.program.wait_for([&] {
            const std::string stat = read_file("/proc/" + std::to_string(ending) + "/stat");
            const size_t state = stat.rfind(") ");
            if (state != std::string::npos && stat[state + 2] == 'Z') return std::stoi(stat.substr(stat.rfind(' '))) == SIGTERM;
            return s.program.screen.contains("Terminated");
        }, 3000)) << s.program.screen.dump();
        EXPECT_TRUE(s.program.wait_for([&] { return processes_in(s.dir.path, shell).empty(); }, 3000));
        s.program.type("stty -g > after; touch done\r");
        ASSERT_TRUE(appears(s, "done"));
        EXPECT_EQ(read_file(s.dir.file("after")), read_file(s.dir.file("before")));
    }
}

// A CR that ends one read and a CR that opens the next are two line ends: the empty line answers
// the interest question (going on), not the welcome line's end merged into it.
TEST(RedirectedDialogue, CarriageReturnsSplitAcrossReadsAreTwoLineEnds) {
    Session s;
    RedirectedRun run = run_redirected({ZUVA_INSTALL_PATH}, "\r", s.dir.file("screen.out"), s.environment(),
                                       s.dir.path, 20000, "\rn\r");
    EXPECT_EQ(exit_shown(run.status), "exit status 0");
    EXPECT_NE(run.output.find(warranty.text), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(cd_device.text), std::string::npos) << run.output;
}

// Started without one of its standard descriptors, the installer gives it /dev/null: df.tmp never
// lands there, and the commands' output and errors do not go into it.
TEST(RedirectedDialogue, AClosedStandardDescriptorIsNeverTakenByAFile) {
    std::vector<std::string> commands;
    const std::string input = answer_lines(full_installation(), full_installation().size(), commands);
    for (int fd : {0, 1, 2}) {
        SCOPED_TRACE("descriptor " + std::to_string(fd) + " closed");
        Session s;
        const std::string bin = command_script(
            s, "cp", "a=$(readlink /proc/$$/fd/0) b=$(readlink /proc/$$/fd/1) c=$(readlink /proc/$$/fd/2)\n"
                     "printf '%s\\n' \"$a\" \"$b\" \"$c\" > where\n");
        RedirectedRun run = run_redirected({ZUVA_INSTALL_PATH}, input, s.dir.file("screen.out"),
                                           s.environment(bin), s.dir.path, 20000, {}, fd);
        EXPECT_EQ(exit_shown(run.status), "exit status 0");
        if (fd == 0) {
            EXPECT_TRUE(s.commands().empty());  // no answers: it gives up at the welcome box
            continue;
        }
        const std::vector<std::string> where = lines_of(read_file(s.dir.file("where")));
        ASSERT_EQ(where.size(), 3u);
        EXPECT_EQ(where[static_cast<size_t>(fd)], "/dev/null");
        for (const std::string& target : where) EXPECT_EQ(target.find("df.tmp"), std::string::npos) << target;
    }
}

// Started by a shell that stays, in a process group of its own with the terminal's foreground:
// job control stops it then, as under a job-control shell. The shell's status is the installer's.
std::vector<std::string> in_own_foreground_group() {
    return {"/bin/sh", "-c", "perl -MPOSIX -e '$SIG{TTOU} = \"IGNORE\"; setpgid(0, 0); tcsetpgrp(0, getpgrp()); "
                             "$SIG{TTOU} = \"DEFAULT\"; exec { $ARGV[0] } @ARGV' '" + std::string(ZUVA_INSTALL_PATH) + "'; exit $?"};
}

bool running(pid_t pid) {
    const char state = process_state(pid);
    return state != 0 && state != 'T' && state != 'Z';
}

// Ends a process the installer had to leave alone, and the cgroups of the installer's commands it kept.
void end_left_alone(pid_t pid, pid_t installer) {
    kill(pid, SIGKILL);
    ends_soon(pid);
    glob_t found{};
    const std::string name = "zuva-install." + std::to_string(installer) + ".*";
    glob(("/sys/fs/cgroup/" + name).c_str(), 0, nullptr, &found);
    glob(("/sys/fs/cgroup/unified/" + name).c_str(), GLOB_APPEND, nullptr, &found);
    for (size_t i = 0; i < found.gl_pathc; ++i) rmdir(found.gl_pathv[i]);
    globfree(&found);
}

// A daemon that an earlier mount left running (a FUSE filesystem's, here a setsid sleep) and a
// child the installer inherited are neither stopped nor ended with the running command. (The
// kernel's hang-up when the installer, the session's leader, ends is not the installer's signal:
// the inherited child ignores it.)
TEST(EarlyEnd, AnEndingSignalEndsTheRunningCommandAndNothingElse) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        Session s;
        const std::string bin = command_script(
            s, "mount",
            "if [ \"$2\" = /drive ]; then echo $$ > mount.waiting; sleep 600 & sleep 600; fi\n"
            "[ \"$2\" = /cdrom ] && (d=$PWD; cd / && exec setsid sh -c \"echo \\$\\$ > '$d/daemon'; exec sleep 600\") &\n"
            "exec '" + standins_path() + "/mount' \"$@\"\n");
        ASSERT_TRUE(s.program.start({"/bin/sh", "-c", "(cd / && trap '' HUP && exec sleep 600) & echo $! > inherited; exec '" +
                                                          std::string(ZUVA_INSTALL_PATH) + "'"},
                                    s.environment(bin), s.dir.path));
        std::vector<std::string> commands;
        ASSERT_TRUE(answer_first(s, full_installation(), 6, commands) && appears(s, "mount.waiting") && appears(s, "daemon"));
        kill(s.program.pid, signal);
        expect_death_by(s.program.wait_exit(3000), signal);
        s.expect_left_clean();
        for (const char* name : {"daemon", "inherited"}) {
            const pid_t pid = std::atoi(read_file(s.dir.file(name)).c_str());
            EXPECT_TRUE(pid > 0 && running(pid)) << name << " " << process_state(pid);
            end_left_alone(pid, s.program.pid);
        }
    }
}

// A command that gives the terminal's foreground to a group of its own and leaves a process
// there: the installer takes the foreground back and reads the next answer.
TEST(EarlyEnd, TheForegroundIsTakenBackFromACommandThatKeptIt) {
    Session s;
    const std::string bin = command_script(s, "mount", "take-foreground\nexec '" + standins_path() + "/mount' \"$@\"\n");
    write_file(bin + "/take-foreground",
               "#!/usr/bin/perl\nuse POSIX;\n$SIG{TTOU} = 'IGNORE';\nsetpgid(0, 0);\ntcsetpgrp(1, getpgrp());\n"
               "exec 'sh', '-c', 'echo $$ > kept; cd / && exec sleep 600' if fork == 0;\n",
               0755);
    ASSERT_TRUE(s.start(bin));
    std::vector<std::string> commands;
    ASSERT_TRUE(answer_first(s, full_installation(), 5, commands) && appears(s, "kept"));
    ASSERT_TRUE(s.at(target_device));
    s.program.type("\x03");
    EXPECT_EQ(s.exit_status(), 130);
    EXPECT_TRUE(attributes_as_new(s.program.master));
    const pid_t kept = std::atoi(read_file(s.dir.file("kept")).c_str());
    EXPECT_TRUE(kept > 0 && running(kept));  // the command's to end, not the installer's
    end_left_alone(kept, s.program.pid);
    EXPECT_EQ(processes_in(s.dir.path), std::vector<pid_t>{});
}

// A listing held by output that nobody takes: on a terminal without /proc, on root's terminal
// as another user, into a pipe that nobody reads. SIGTERM still ends the installer within a second.
TEST(EarlyEnd, AnEndingSignalEndsTheInstallerWhoseOutputIsHeld) {
    for (const std::string how : {"without /proc", "as nobody", "into a full pipe"}) {
        SCOPED_TRACE(how);
        Session s;
        chmod(s.dir.path.c_str(), 0777);
        const std::string bin = command_script(s, "df", "seq 1 200000\n");
        const std::string install = "'" + std::string(ZUVA_INSTALL_PATH) + "'";
        ASSERT_EQ(mkfifo(s.dir.file("fifo").c_str(), 0666), 0);
        const int reader = open(s.dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
        if (how == "without /proc") {
            ASSERT_TRUE(s.program.start({"/usr/bin/unshare", "-m", "/bin/sh", "-c", "umount -l /proc && exec " + install},
                                        s.environment(bin), s.dir.path));
        } else {
            ASSERT_TRUE(s.program.start({"/bin/sh", "-c", how == "as nobody" ? "exec setpriv --reuid=65534 --regid=65534 --clear-groups " + install
                                                                              : "exec " + install + " > fifo"},
                                        s.environment(bin), s.dir.path));
        }
        if (how == "into a full pipe") {
            s.program.type("\ry\r\r/dev/hdc\r");
        } else {
            ASSERT_TRUE(s.answers({{&welcome, ""}, {&interest, "y"}, {&warranty, ""}, {&cd_device, "/dev/hdc"}}));
        }
        ASSERT_TRUE(held_in_output(s.program.pid, how == "into a full pipe" ? reader : s.program.master));
        kill(s.program.pid, SIGTERM);
        expect_death_by(s.program.wait_exit(1000), SIGTERM);
        close(reader);
        s.expect_left_clean();
    }
}

// SIGTSTP, a second one while the pause is being prepared, then SIGCONT: by the kernel's order
// the installer goes on, each of 50 times (taking its terminal up again), and reads its answers.
TEST(EarlyEnd, TwoSigTstpsThenSigContNeverLeaveTheInstallerStopped) {
    Session s;
    ASSERT_TRUE(s.program.start(in_own_foreground_group(), s.environment(), s.dir.path));
    ASSERT_TRUE(s.at(welcome));
    const pid_t installer = child_of(s.program.pid);
    for (int i = 0; i < 50; ++i) {
        // The first SIGTSTP comes while the installer waits for a key, so it is taken and a pause
        // begins (three signals that all come while it draws merge to nothing, as the kernel's).
        ASSERT_TRUE(wait_until([&] {
            const std::vector<unsigned long> call = system_call_of(installer);
            return !call.empty() && call[0] == SYS_poll;
        })) << "round " << i << ", state " << process_state(installer);
        const size_t shown = s.program.output.size();
        // The second SIGTSTP and the SIGCONT spread over the first millisecond of the pause: at
        // whichever moment they come, the installer must go on.
        kill(installer, SIGTSTP);
        usleep(static_cast<useconds_t>(20 * i));
        kill(installer, SIGTSTP);
        kill(installer, SIGCONT);
        ASSERT_TRUE(s.program.wait_for([&] { return s.program.output.find("\x1b[14;42H", shown) != std::string::npos; }, 3000))
            << "round " << i << ", state " << process_state(installer);
    }
    EXPECT_TRUE(s.answer(welcome, "") && s.at(interest)) << s.program.screen.dump();
    s.program.type("\x03");
    EXPECT_EQ(s.exit_status(), 130);
    s.expect_left_clean();
}

// A terminal left with VMIN 3 takes each key at once while the installer runs, and has VMIN 3
// back at the end.
TEST(EarlyEnd, ATerminalLeftWithVmin3TakesEnterAtOnce) {
    Session s;
    ASSERT_TRUE(s.program.start({"/bin/sh", "-c", "stty min 3; exec '" + std::string(ZUVA_INSTALL_PATH) + "'"},
                                s.environment(), s.dir.path));
    ASSERT_TRUE(s.answer(welcome, ""));
    EXPECT_TRUE(s.at(interest, 1000)) << s.program.screen.dump();
    s.program.type("\x03");
    EXPECT_EQ(s.exit_status(), 130);
    termios now{};
    ASSERT_EQ(tcgetattr(s.program.master, &now), 0);
    EXPECT_EQ(now.c_cc[VMIN], 3);
    now.c_cc[VMIN] = 1;
    ASSERT_EQ(tcsetattr(s.program.master, TCSANOW, &now), 0);
    s.expect_left_clean();
}

// A cursor reply that comes after the second, in pieces, or that begins within it and ends after
// it, is never typed into the dialogue. The first piece comes within the second, the others each
// after a pause of the line.
TEST(EarlyEnd, ALateCursorReplyInPiecesIsNeverTyped) {
    const std::vector<std::string> replies[] = {{"", "\x1b", "[24;80R"}, {"", "\x1b[24", ";80R"}, {"\x1b[24;8", "0R"}};
    for (const std::vector<std::string>& pieces : replies) {
        SCOPED_TRACE(testing::PrintToString(pieces));
        Session s;
        s.program.answer_queries = false;
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(s.program.wait_for([&] { return s.program.output.find("\x1b[6n") != std::string::npos; }));
        s.program.type(pieces[0]);
        ASSERT_TRUE(s.at(welcome));
        for (size_t i = 1; i < pieces.size(); ++i) {
            // Each piece in a read of its own, while the installer waits for the rest (at most
            // half a second) or for a key.
            ASSERT_TRUE(s.program.took_typed() && wait_until([&] {
                const std::vector<unsigned long> call = system_call_of(s.program.pid);
                return !call.empty() && (call[0] == SYS_poll || call[0] == SYS_ppoll);
            })) << "piece " << i - 1 << " not taken";
            s.program.type(pieces[i]);
        }
        ASSERT_TRUE(s.answer(welcome, "") && s.at(interest)) << s.program.screen.dump();
        EXPECT_EQ(s.program.output.find("0R"), std::string::npos);
        s.program.type("\x03");
        EXPECT_EQ(s.exit_status(), 130);
        s.expect_left_clean();
    }
}

}  // namespace
