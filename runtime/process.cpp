#include "runtime/process.h"

#include <sys/syscall.h>

#include "runtime/command_group.h"
#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

int modules_initialised = 0;

uint16_t exit_code = 0;
uint16_t error_code = 0;
void* error_address = nullptr;
void* error_frame = nullptr;

volatile bool exit_in_progress = false;

void init_modules() {
    // A module counts from the moment its start-up begins: whatever it changed before a fault
    // or an ending signal stopped it (the terminal's raw mode) is undone on the way out.
    for (int i = 0; i < module_count; ++i) {
        modules_initialised = i + 1;
        if (module_table[i].initialise) module_table[i].initialise();
    }
}

void finalize_modules() {
    while (modules_initialised > 0) {
        const Module& module = module_table[modules_initialised - 1];
        modules_initialised -= 1;
        if (module.finalise) module.finalise();
    }
}

void halt_program() {
    exit_in_progress = true;
    // From the background (a command took the terminal, or a stopped installer continued by
    // `kill %1`) the terminal requests below must not stop the process.
    hold_terminal_stops(true);
    // No command outlives an installer ended from outside.
    if (stop_signal != 0) end_command(stop_signal);
    // The terminal's foreground back from a command still running (after a fault), so that its
    // modes are given back below.
    command_ended();
    exit_sequence();
    // Ended from outside: with the terminal given back, the parent learns how it ended.
    if (stop_signal != 0 && error_address == nullptr) die_by_stop_signal();
    system_call(SYS_exit_group, exit_code);
    __builtin_unreachable();
}

// Not inlined: the report names the code address this call returns to and its caller's frame.
[[gnu::noinline]] void check_io() {
    if (io_result == 0) return;
    uint16_t number = io_result;
    io_result = 0;
    void** frame = static_cast<void**>(__builtin_frame_address(0));
    raise_run_error(number, __builtin_return_address(0), frame[0]);
}

[[gnu::noinline]] void run_error(uint16_t number) {
    void** frame = static_cast<void**>(__builtin_frame_address(0));
    raise_run_error(number, __builtin_return_address(0), frame[0]);
}

void raise_run_error(uint16_t number, void* address, void* frame) {
    error_code = number;
    exit_code = number;
    error_address = address;
    error_frame = frame;
    halt_program();
}

}  // namespace zuva
