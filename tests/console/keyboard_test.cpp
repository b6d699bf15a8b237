// Keyboard decoding on a real pseudo-terminal: plain keys, every escape sequence the decoder
// knows, sequences cut short or arriving late, the ring and queue limits, and the end of input.
#include "console/keyboard.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/console/keyboard_pty.h"
#include "tests/support/terminal.h"

namespace zuva {
namespace {

using namespace std::literals;
using Keys = std::vector<int>;
using Clock = std::chrono::steady_clock;
using test::ms_since;

class KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override { pty.open(); }
    void TearDown() override { pty.close_all(); }

    Keys read_keys(size_t count) {
        Keys keys;
        for (size_t i = 0; i < count; ++i) keys.push_back(read_key());
        return keys;
    }

    // Types the bytes at once and reads exactly as many keys as expected; afterwards nothing
    // may be left in the queue or the ring.
    void expect_keys(std::string_view typed, const Keys& expected) {
        SCOPED_TRACE("typed: " + testing::PrintToString(std::string(typed)));
        pty.type(typed);
        EXPECT_EQ(read_keys(expected.size()), expected);
        EXPECT_TRUE(test::queue_empty());
        EXPECT_EQ(tty_ring_count, 0);
    }

    // The ring's and the queue's places stay within them, whatever came.
    static bool within_bounds() {
        return tty_ring_count >= 0 && tty_ring_count <= tty_ring_size && tty_ring_read >= 0 &&
               tty_ring_read < tty_ring_size && tty_ring_write >= 0 && tty_ring_write < tty_ring_size &&
               key_queue_take >= 0 && key_queue_take < key_queue_size && key_queue_put >= 0 &&
               key_queue_put < key_queue_size;
    }

    test::KeyboardPty pty;
};

TEST_F(KeyboardTest, PlainKeysAreTheirOwnByteAndBackspaceBecomes8) {
    expect_keys("a", {'a'});
    expect_keys("\r", {13});
    expect_keys("\x7f", {8});
    expect_keys("\x08", {8});
    expect_keys("\x03\x04\x1a\t\n", {3, 4, 26, 9, 10});
    expect_keys("\0"sv, {0});
    expect_keys("\xe9\xff\x80", {0xE9, 0xFF, 0x80});
}

TEST_F(KeyboardTest, EveryByteButEscAndDelPassesThroughUnchanged) {
    std::string typed;
    Keys expected;
    for (int b = 0; b < 256; ++b) {
        if (b == 27 || b == 127) continue;
        typed += static_cast<char>(b);
        expected.push_back(b);
    }
    expect_keys(typed, expected);
}

struct Row {
    std::string_view typed;
    Keys keys;
};

TEST_F(KeyboardTest, EverySequenceOfTheTableInOneBurst) {
    const Row rows[] = {
        {"\x1b[A", {0, 0x48}},   {"\x1b[B", {0, 0x50}},   {"\x1b[C", {0, 0x4D}},
        {"\x1b[D", {0, 0x4B}},   {"\x1bOA", {0, 0x48}},   {"\x1bOB", {0, 0x50}},
        {"\x1bOC", {0, 0x4D}},   {"\x1bOD", {0, 0x4B}},   {"\x1b[H", {0, 0x47}},
        {"\x1b[1~", {0, 0x47}},  {"\x1b[K", {0, 0x4F}},   {"\x1b[4~", {0, 0x4F}},
        {"\x1b[5~", {0, 0x49}},  {"\x1b[6~", {0, 0x51}},  {"\x1b[2~", {0, 0x52}},
        {"\x1b[3~", {0, 0x53}},  {"\x1b[[A", {0, 0x3B}},  {"\x1b[[B", {0, 0x3C}},
        {"\x1b[[C", {0, 0x3D}},  {"\x1b[[D", {0, 0x3E}},  {"\x1b[[E", {0, 0x3F}},
        {"\x1b[17~", {0, 0x40}}, {"\x1b[18~", {0, 0x41}}, {"\x1b[19~", {0, 0x42}},
        {"\x1b[20~", {0, 0x43}}, {"\x1b[21~", {0, 0x44}}, {"\x1b[23~", {0, 0x85}},
        {"\x1b[24~", {0, 0x86}}, {"\x1b[25~", {0, 0x56}}, {"\x1b[26~", {0, 0x57}},
        {"\x1b[28~", {0, 0x58}}, {"\x1b[29~", {0, 0x59}}, {"\x1b[31~", {0, 0x5A}},
        {"\x1b[32~", {0, 0x5B}}, {"\x1b[33~", {0, 0x5C}}, {"\x1b[34~", {0, 0x5D}},
        {"\x1b[G", {'5'}},
    };
    for (const Row& row : rows) expect_keys(row.typed, row.keys);
}

TEST_F(KeyboardTest, EscapeThenOneOfTheThirtyEightIsAlt) {
    const std::pair<std::string_view, int> groups[] = {
        {"qwertyuiop", 0x10}, {"asdfghjkl", 0x1E}, {"zxcvbnm", 0x2C}, {"1234567890-=", 0x78}};
    for (auto [chars, first] : groups) {
        for (size_t i = 0; i < chars.size(); ++i) {
            std::string typed = "\x1b"s + chars[i];
            expect_keys(typed, {0, first + static_cast<int>(i)});
            EXPECT_EQ(alt_key_code(static_cast<uint8_t>(chars[i])), first + static_cast<int>(i));
        }
    }
    for (int c : std::initializer_list<int>{'Q', 'X', 'M', '[', 'O', '~', 0, 10, 27, 127, 255}) {
        EXPECT_EQ(alt_key_code(static_cast<uint8_t>(c)), 0) << c;
    }
}

TEST_F(KeyboardTest, EscapeFollowedByOtherBytes) {
    expect_keys("\x1b", {27});
    expect_keys("\x1b\n", {10});
    expect_keys("\x1b\r", {13, 27});
    expect_keys("\x1bX", {'X', 27});
    expect_keys("\x1b\x7f", {127, 27});
    expect_keys("\x1b\x1b", {27, 27});
    expect_keys("\x1b\0"sv, {0, 27});
    expect_keys("\x1b[Z", {'Z', '[', 27});
    expect_keys("\x1b[\x7f", {127, '[', 27});
}

TEST_F(KeyboardTest, SequencesThatQueueNothingYieldALoneZero) {
    for (std::string_view typed : {"\x1b[[Z"sv, "\x1bOP"sv, "\x1b[15~"sv, "\x1b[27~"sv, "\x1b[35~"sv,
                                   "\x1b[1x~"sv, "\x1b[[\x1b"sv})
        expect_keys(typed, {0});
    // The ; ends the sequence early: the 5 is swallowed and the A is an ordinary key.
    pty.type("\x1b[1;5A");
    EXPECT_EQ(read_key(), 0);
    EXPECT_TRUE(test::queue_empty());
    EXPECT_EQ(read_key(), 'A');
}

TEST_F(KeyboardTest, LateBytesAreReadAsOrdinaryKeys) {
    pty.type("\x1b[5");
    EXPECT_EQ(read_keys(2), (Keys{0, 0x49}));
    pty.type("~");
    EXPECT_EQ(read_key(), '~');

    pty.type("\x1b");
    EXPECT_EQ(read_key(), 27);
    pty.type("[A");
    EXPECT_EQ(read_keys(2), (Keys{'[', 'A'}));

    pty.type("\x1b[1");
    EXPECT_EQ(read_key(), 0);
    EXPECT_TRUE(test::queue_empty());
    pty.type("~");
    EXPECT_EQ(read_key(), '~');
}

TEST_F(KeyboardTest, EachUnfinishedByteWaitsTenMilliseconds) {
    test::ScriptedKeyboard keys({{0, "\x1b"}, {100, "\x1b[A"}});
    EXPECT_EQ(read_key(), 27);
    EXPECT_EQ(keys.now_ms, 10);
    EXPECT_EQ(read_key(), 0);
    EXPECT_EQ(keys.now_ms, 120);
    EXPECT_EQ(read_key(), 0x48);
}

TEST_F(KeyboardTest, OneReadTakesABurstOfTyping) {
    pty.type("abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(read_key(), 'a');
    EXPECT_EQ(tty_ring_count, 24);
    // Any further read of the keyboard would now find the end of input.
    keyboard_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(keyboard_fd, 0);
    std::string rest;
    for (int i = 0; i < 24; ++i) rest += static_cast<char>(read_key());
    EXPECT_EQ(rest, "bcdefghijklmnopqrstuvwxy");
    EXPECT_FALSE(tty_input_ended);
    close(keyboard_fd);
}

TEST_F(KeyboardTest, RingWrapsAroundItsEnd) {
    pty.type(std::string(200, 'x'));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(read_key(), 'x');
    EXPECT_EQ(tty_ring_write, 200);

    std::string typed;
    for (int i = 0; i < 100; ++i) typed += static_cast<char>('A' + i % 26);
    pty.type(typed);
    std::string got;
    for (int i = 0; i < 100; ++i) {
        got += static_cast<char>(read_key());
        ASSERT_TRUE(within_bounds()) << "ring " << tty_ring_read << " to " << tty_ring_write;
    }
    EXPECT_EQ(got, typed);
    EXPECT_EQ(tty_ring_write, 44);  // 56 bytes up to the end, then 44 from the start
    EXPECT_EQ(tty_ring_read, 44);
}

TEST_F(KeyboardTest, QueueHoldsNineteenKeysAndDropsTheRest) {
    EXPECT_EQ(pop_key(), 0);
    for (int i = 1; i <= 25; ++i) push_key(static_cast<uint8_t>(i));
    for (int i = 1; i <= 19; ++i) EXPECT_EQ(pop_key(), i);
    EXPECT_TRUE(test::queue_empty());
    EXPECT_EQ(pop_key(), 0);

    // Indices wrap from 20 to 0 without losing order.
    for (int i = 0; i < 50; ++i) {
        push_extended_key(static_cast<uint8_t>(i + 100));
        EXPECT_EQ(pop_key(), 0);
        EXPECT_EQ(pop_key(), i + 100);
        ASSERT_TRUE(within_bounds());
    }
    EXPECT_TRUE(test::queue_empty());
}

TEST_F(KeyboardTest, QueuedKeysComeBeforeTheTerminal) {
    push_key('q');
    pty.type("t");
    EXPECT_TRUE(key_pressed());
    EXPECT_EQ(read_key(), 'q');
    EXPECT_EQ(read_key(), 't');
    EXPECT_FALSE(key_pressed());
    EXPECT_FALSE(bytes_waiting());
}

TEST_F(KeyboardTest, AnyBytesInAnyChunksStayWithinRingAndQueue) {
    // Bytes that keep the decoder inside its sequences, mixed with everything else.
    const std::string_view likely = "\x1b\x1b\x1b[[[O123456789~~;ABCDEGHKZ\x7f\r\n\0"sv;
    std::mt19937 random(2024);
    for (int round = 0; round < 150; ++round) {
        std::string chunk;
        size_t length = 1 + random() % 40;
        for (size_t i = 0; i < length; ++i) {
            chunk += random() % 3 ? likely[random() % likely.size()] : static_cast<char>(random() % 256);
        }
        pty.type(chunk);
        int keys = 0;
        while (!test::queue_empty() || bytes_waiting()) {
            read_key();
            ASSERT_TRUE(within_bounds()) << testing::PrintToString(chunk);
            // A sequence queues at most three keys per byte it takes.
            ASSERT_LE(++keys, 3 * static_cast<int>(chunk.size())) << testing::PrintToString(chunk);
        }
        ASSERT_FALSE(tty_input_ended);
    }
}

TEST_F(KeyboardTest, HangUpEndsTheInputForGood) {
    pty.type("a");
    EXPECT_EQ(read_key(), 'a');
    const pid_t reader = gettid();
    std::thread hang_up([&] {
        EXPECT_TRUE(test::comes_to_wait_for_input(reader)) << "not waiting for a key";
        pty.hang_up();
    });
    EXPECT_EQ(read_key(), 0);  // was waiting when the terminal went away
    hang_up.join();
    EXPECT_TRUE(tty_input_ended);
    EXPECT_TRUE(test::queue_empty());
    EXPECT_GE(tty_ring_count, 0);

    // Later calls neither block nor read again: a source that counts shows no read and no wait.
    test::ScriptedKeyboard keys({{0, "never read"}});
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(read_key(), 0);
    EXPECT_FALSE(key_pressed());
    EXPECT_FALSE(bytes_waiting());
    EXPECT_EQ(keys.calls, 0);
}

TEST_F(KeyboardTest, EndOfAPipeComesAfterTheBytesBeforeIt) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    keyboard_fd = ends[0];
    ASSERT_EQ(write(ends[1], "ab\x1b", 3), 3);
    close(ends[1]);
    EXPECT_EQ(read_key(), 'a');
    EXPECT_EQ(read_key(), 'b');
    EXPECT_EQ(read_key(), 27);  // the ESC is alone: the end is no byte after it
    EXPECT_EQ(read_key(), 0);
    EXPECT_TRUE(tty_input_ended);
    EXPECT_EQ(read_key(), 0);
    EXPECT_EQ(tty_ring_count, 0);
    close(ends[0]);
}

std::atomic<int> signals_taken{0};
void count_signal(int) { ++signals_taken; }

TEST_F(KeyboardTest, ASignalDuringTheWaitIsNotTheEndOfInput) {
    struct sigaction action {};
    action.sa_handler = count_signal;  // no SA_RESTART: the wait is cut short
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    // Each signal comes while the reader waits for a key, the key after it waits again.
    const pthread_t reader = pthread_self();
    const pid_t reader_id = gettid();
    signals_taken = 0;
    std::thread other([&] {
        for (int n = 1; n <= 2; ++n) {
            EXPECT_TRUE(test::comes_to_wait_for_input(reader_id)) << "not waiting for a key";
            pthread_kill(reader, SIGUSR1);
            EXPECT_TRUE(test::wait_until([&] { return signals_taken == n; }));
        }
        EXPECT_TRUE(test::comes_to_wait_for_input(reader_id)) << "not waiting for a key";
        pty.type_later("k");
    });
    EXPECT_EQ(read_key(), 'k');
    other.join();
    EXPECT_EQ(signals_taken, 2);
    EXPECT_FALSE(tty_input_ended);
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST_F(KeyboardTest, DelaySleepsAboutAsLongAsAsked) {
    auto start = Clock::now();
    delay_ms(25);
    EXPECT_GE(ms_since(start), 25);
    start = Clock::now();
    delay_ms(1020);  // whole seconds and the rest
    EXPECT_GE(ms_since(start), 1020);
    EXPECT_LT(ms_since(start), 3000);
}

}  // namespace
}  // namespace zuva
