// Keyboard decoding: raw terminal bytes to keys; special keys as 0 and a PC key code.
#pragma once

#include <cstdint>

namespace zuva {

constexpr int32_t tty_ring_size = 256;
extern uint8_t tty_ring[tty_ring_size];
extern int32_t tty_ring_write;
extern int32_t tty_ring_read;
extern int32_t tty_ring_count;

constexpr int32_t key_queue_size = 20;
extern uint8_t key_queue[key_queue_size];
extern int32_t key_queue_put;
extern int32_t key_queue_take;

// The descriptor the keys are read from: 0, except in tests that feed a terminal of their own.
extern int32_t keyboard_fd;

// Where the keys come from: the terminal on keyboard_fd by default; tests and fuzzers put in
// bytes and a clock of their own.
struct KeyboardSource {
    // One read of up to count bytes: the count, 0 at the end of input, -1 on failure with the
    // error number in last_os_error (EINTR and EAGAIN mean nothing now, any other the end).
    int32_t (*read)(uint8_t* into, int32_t count);
    // Whether a byte can be read now, waiting up to timeout_ms for one (-1: as long as it takes).
    bool (*wait)(int32_t timeout_ms);
    void (*sleep)(int32_t ms);
};
extern KeyboardSource keyboard_source;
// The terminal's own source, for putting it back.
extern const KeyboardSource terminal_keyboard;

// Set when a read of the keyboard returned 0 or failed (hang-up, end of file); stays set.
// From then on nothing more is read and read_key returns 0 at once once the ring is drained.
extern bool tty_input_ended;

uint8_t read_key();
bool key_pressed();
bool bytes_waiting();
uint8_t read_tty_byte();
void push_key(uint8_t key);
void push_extended_key(uint8_t code);
uint8_t pop_key();
uint8_t alt_key_code(uint8_t c);
void delay_ms(int32_t ms);

}  // namespace zuva
