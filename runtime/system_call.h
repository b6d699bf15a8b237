// The system-call layer: one routine that issues a Linux system call and classifies its result.
#pragma once

#include <cstdint>

namespace zuva {

// Error number of the last system call made through system_call; 0 after a successful one.
extern int32_t last_os_error;

// A raw result from -4095 to -1 is a failure: last_os_error := its negation, result -1.
// Every wait of the program goes through here, so a fault signal that arrives while the
// program waits in the kernel still finds the program's own frames above the interrupted code.
long system_call(long number, long a1 = 0, long a2 = 0, long a3 = 0, long a4 = 0, long a5 = 0);

// A wait that lets signals in: wait_armed while it may be cut short, wait_cut once a signal came.
// A call made then returns EINTR without entering the kernel, and a signal that comes between
// that check and the kernel entry is moved to the same return by cut_short_at, so none is slept
// through. Used by the signal handlers, which alone see the interrupted instruction.
constexpr int32_t wait_idle = 0, wait_armed = 1, wait_cut = 2;
extern volatile int32_t wait_state;
void cut_short_at(void* context);

}  // namespace zuva
