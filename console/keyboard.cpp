// Keyboard decoding: turns the terminal's escape sequences into PC key codes, one key per call.
#include "console/keyboard.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string_view>

#include "console/raw_terminal.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

uint8_t tty_ring[tty_ring_size];
int32_t tty_ring_write = 0;
int32_t tty_ring_read = 0;
int32_t tty_ring_count = 0;

uint8_t key_queue[key_queue_size];
int32_t key_queue_put = 0;
int32_t key_queue_take = 0;

int32_t keyboard_fd = 0;
bool tty_input_ended = false;

namespace {

// The terminal's reads and waits go through the program's own system-call layer, so that a
// fault report made during a wait for a key still lists every caller.
int32_t terminal_read(uint8_t* into, int32_t count) {
    // A read from the background would stop the installer with its signals held back.
    drop_request_mark();
    wait_for_foreground(keyboard_fd, SIGTTIN);
    return static_cast<int32_t>(system_call(SYS_read, keyboard_fd, reinterpret_cast<long>(into), count));
}

// Signals from outside are let in only while waiting here, and acted on at once. SIGHUP ends
// the input as a real hang-up would.
bool terminal_wait(int32_t timeout_ms) {
    pollfd keyboard{keyboard_fd, POLLIN, 0};
    for (;;) {
        long ready = call_letting_signals_in(input_signals, SYS_poll, reinterpret_cast<long>(&keyboard), 1, timeout_ms);
        if (ready >= 0) return ready > 0;
        if (last_os_error != EINTR) return false;
        act_on_signals();
        if (hang_up_noted) {
            tty_input_ended = true;
            return false;
        }
    }
}

}  // namespace

const KeyboardSource terminal_keyboard{terminal_read, terminal_wait, delay_ms};
KeyboardSource keyboard_source = terminal_keyboard;

namespace {

// Alt+key: the character after ESC, and position by position its PC key code.
constexpr std::string_view alt_key_chars = "qwertyuiopasdfghjklzxcvbnm1234567890-=";
constexpr uint8_t alt_key_codes[] = {
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,        // q to p
    0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26,              // a to l
    0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32,                          // z to m
    0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F, 0x80, 0x81, 0x82, 0x83,  // 1 to 0, -, =
};
static_assert(sizeof(alt_key_codes) == alt_key_chars.size());

// Decoder states, local to one call of read_key.
constexpr int state_idle = 0;
constexpr int state_escape = 1;        // after ESC
constexpr int state_bracket = 2;       // after ESC [
constexpr int state_function = 3;      // after ESC [ [
constexpr int state_one = 4;           // after ESC [ 1
constexpr int state_two = 5;           // after ESC [ 2
constexpr int state_three = 6;         // after ESC [ 3
constexpr int state_keypad = 7;        // after ESC O
constexpr int state_swallow = 255;     // the closing ~ is still to come

constexpr uint8_t esc = 27;
// The longest gap between the pieces of a late cursor report on a slow line.
constexpr int32_t late_piece_ms = 500;

// One read into the empty ring, from its write index up to its end.
void refill_tty_ring() {
    // Never over bytes not yet taken, when the ring is refilled before it is empty.
    int32_t room = std::min(tty_ring_size - tty_ring_write, tty_ring_size - tty_ring_count);
    int32_t got = keyboard_source.read(tty_ring + tty_ring_write, room);
    if (got > room) got = room;  // a source never gets to claim more than the ring took
    if (got > 0) {
        tty_ring_count += got;
        tty_ring_write += got;
        if (tty_ring_write == tty_ring_size) tty_ring_write = 0;
    } else if (got == 0 || (last_os_error != EINTR && last_os_error != EAGAIN)) {
        // A hung-up terminal stays readable and keeps failing: never read it again.
        tty_input_ended = true;
    }
}

// Moves the next unread byte into b; false when none could be had (nothing typed yet, a read
// cut short by a signal, or the end of input, which tty_input_ended then remembers).
bool take_tty_byte(uint8_t& b) {
    if (tty_ring_count == 0 && !tty_input_ended) refill_tty_ring();
    if (tty_ring_count == 0) return false;
    b = tty_ring[tty_ring_read];
    tty_ring_count -= 1;
    tty_ring_read += 1;
    if (tty_ring_read == tty_ring_size) tty_ring_read = 0;
    return true;
}

void wait_for_keyboard() { keyboard_source.wait(-1); }

// A cursor report that start-up stopped waiting for comes late, perhaps in pieces: the byte just
// taken and those after it that make up its rest are dropped, so that none of it becomes typed
// keys. A piece still missing is waited for a moment; bytes that are no report are left as keys.
bool skip_late_cursor_report(uint8_t first) {
    int state = cursor_report_step(cursor_report_state, first);
    if (state < 0) {
        cursor_report_state = 0;  // what start-up read was no report: a whole one may still come
        return false;
    }
    int32_t k = 0;  // bytes after the first that belong to the report
    while (state != cursor_report_whole) {
        if (k == tty_ring_count) {
            if (tty_ring_count == tty_ring_size || tty_input_ended || !keyboard_source.wait(late_piece_ms)) return false;
            refill_tty_ring();
            if (k == tty_ring_count) return false;
        }
        state = cursor_report_step(state, tty_ring[(tty_ring_read + k) % tty_ring_size]);
        if (state < 0) return false;
        ++k;
    }
    tty_ring_read = (tty_ring_read + k) % tty_ring_size;
    tty_ring_count -= k;
    cursor_report_outstanding = false;
    cursor_report_state = 0;
    return true;
}

// One byte of an escape sequence, taken in the given state: queues what it completes and
// returns the next state.
int decode_sequence_byte(int state, uint8_t b) {
    switch (state) {
    case state_escape:
        if (b == 10) {
            push_key(10);
            return state_idle;
        }
        if (uint8_t code = alt_key_code(b); code != 0) {
            push_extended_key(code);
            return state_idle;
        }
        if (b == 'O') return state_keypad;
        if (b == '[') return state_bracket;
        push_key(b);
        push_key(esc);
        return state_idle;
    case state_bracket:
        switch (b) {
        case '1': return state_one;
        case '2': return state_two;
        case '3': return state_three;
        case '4': push_extended_key(0x4F); return state_swallow;
        case '5': push_extended_key(0x49); return state_swallow;
        case '6': push_extended_key(0x51); return state_swallow;
        case 'A': push_extended_key(0x48); return state_idle;
        case 'B': push_extended_key(0x50); return state_idle;
        case 'C': push_extended_key(0x4D); return state_idle;
        case 'D': push_extended_key(0x4B); return state_idle;
        case 'G': push_key('5'); return state_idle;  // the keypad's centre key
        case 'H': push_extended_key(0x47); return state_idle;
        case 'K': push_extended_key(0x4F); return state_idle;
        case '[': return state_function;
        default:
            push_key(b);
            push_key('[');
            push_key(esc);
            return state_idle;
        }
    case state_function:
        if (b >= 'A' && b <= 'E') push_extended_key(static_cast<uint8_t>(0x3B + (b - 'A')));
        return state_idle;
    case state_one:
        if (b == '~') {
            push_extended_key(0x47);
            return state_idle;
        }
        if (b >= '7' && b <= '9') push_extended_key(static_cast<uint8_t>(0x40 + (b - '7')));
        return state_swallow;
    case state_two:
        switch (b) {
        case '~': push_extended_key(0x52); return state_idle;
        case '0': push_extended_key(0x43); break;
        case '1': push_extended_key(0x44); break;
        case '3': push_extended_key(0x85); break;
        case '4': push_extended_key(0x86); break;
        case '5': push_extended_key(0x56); break;
        case '6': push_extended_key(0x57); break;
        case '8': push_extended_key(0x58); break;
        case '9': push_extended_key(0x59); break;
        default: break;
        }
        return state_swallow;
    case state_three:
        if (b == '~') {
            push_extended_key(0x53);
            return state_idle;
        }
        if (b >= '1' && b <= '4') push_extended_key(static_cast<uint8_t>(0x5A + (b - '1')));
        return state_swallow;
    case state_keypad:
        switch (b) {
        case 'A': push_extended_key(0x48); break;
        case 'B': push_extended_key(0x50); break;
        case 'C': push_extended_key(0x4D); break;
        case 'D': push_extended_key(0x4B); break;
        default: break;
        }
        return state_idle;
    default:  // state_swallow
        return state_idle;
    }
}

}  // namespace

uint8_t read_tty_byte() {
    uint8_t b = 0;
    take_tty_byte(b);
    return b;
}

bool bytes_waiting() {
    if (tty_ring_count > 0) return true;
    if (tty_input_ended) return false;
    return keyboard_source.wait(0);
}

bool key_pressed() { return key_queue_put != key_queue_take || bytes_waiting(); }

void push_key(uint8_t key) {
    int32_t next = key_queue_put + 1;
    if (next == key_queue_size) next = 0;
    if (next == key_queue_take) return;  // full: one slot always stays free
    key_queue[key_queue_put] = key;
    key_queue_put = next;
}

void push_extended_key(uint8_t code) {
    push_key(0);
    push_key(code);
}

uint8_t pop_key() {
    if (key_queue_put == key_queue_take) return 0;
    uint8_t key = key_queue[key_queue_take];
    key_queue_take += 1;
    if (key_queue_take == key_queue_size) key_queue_take = 0;
    return key;
}

uint8_t alt_key_code(uint8_t c) {
    size_t at = alt_key_chars.find(static_cast<char>(c));
    return at == std::string_view::npos ? 0 : alt_key_codes[at];
}

void delay_ms(int32_t ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    // A signal cuts the sleep short; the rest is slept all the same.
    while (system_call(SYS_nanosleep, reinterpret_cast<long>(&left), reinterpret_cast<long>(&left)) == -1 &&
           last_os_error == EINTR) {
    }
}

uint8_t read_key() {
    if (key_queue_put != key_queue_take) return pop_key();

    // A wait or read cut short by a signal brings no byte: wait again. After the end of
    // input there is nothing to wait for, and the 0 goes out with nothing behind it.
    uint8_t b = 0;
    for (;;) {
        if (!bytes_waiting()) {
            if (tty_input_ended) return 0;
            wait_for_keyboard();
        }
        if (!take_tty_byte(b)) {
            if (tty_input_ended) return 0;
            continue;
        }
        if (!cursor_report_outstanding || !skip_late_cursor_report(b)) break;
    }
    // The rest of a sequence must follow within 10 ms of the ESC and of each byte after it;
    // what comes later is read as ordinary keys.
    if (b == esc) keyboard_source.sleep(10);

    if (b == 127) {
        push_key(8);  // the Linux console's Backspace
    } else if (b != esc) {
        push_key(b);
    } else {
        int state = state_escape;
        while (state != state_idle && bytes_waiting()) {
            uint8_t next = 0;
            if (!take_tty_byte(next)) break;
            state = decode_sequence_byte(state, next);
            if (state != state_idle) keyboard_source.sleep(10);
        }
        if (state == state_escape) push_key(esc);
    }
    return pop_key();
}

}  // namespace zuva
