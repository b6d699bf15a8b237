// The process frame: module start-up and finalisation, the one exit path, run-time errors.
#pragma once

#include <cstdint>

#include "runtime/bounded_string.h"
#include "runtime/text_stream.h"

namespace zuva {

struct Module {
    void (*initialise)();
    void (*finalise)();
};

constexpr int module_count = 3;

// Defined by each program: runtime core, operating-system interface, console.
extern const Module module_table[module_count];
extern int modules_initialised;

extern uint16_t exit_code;
extern uint16_t error_code;
extern void* error_address;
extern void* error_frame;

constexpr int max_terminal_frames = 8;
constexpr int max_frames = 256;

// Saved by the process entry for the shell runner.
extern int saved_argc;
extern char** saved_argv;
extern char** saved_envp;

constexpr uint16_t start_control_word = 0x1332;

// Saves the command line and environment, loads the x87 control word, marks the outermost
// frame and calls the main routine, which ends through halt_program.
[[noreturn]] void process_entry(int argc, char** argv, char** envp, void (*main_routine)());

// The runtime core's and the operating-system interface's module entries.
void runtime_core_init();
void os_interface_init();
void os_interface_exit();

void init_modules();
// Set while the exit sequence runs: a fault there ends the process at once, and a wait there
// cuts its output short instead of ending a second time.
extern volatile bool exit_in_progress;
void finalize_modules();
void exit_sequence();
[[noreturn]] void halt_program();

void check_io();
[[noreturn]] void run_error(uint16_t number);
[[noreturn]] void raise_run_error(uint16_t number, void* address, void* frame);

BoundedString frame_line(const void* address);
void dump_frames(TextStream& stream, void* frame);

void install_fault_handlers();

}  // namespace zuva
