#include "runtime/system_call.h"

namespace zuva {

int32_t last_os_error = 0;

}  // namespace zuva

// The kernel entry keeps a frame of its own: the error report walks from the interrupted
// instruction's frame, and without one the caller's own line would be missing.
asm(R"(
    .text
    .globl zuva_kernel_call
    .type zuva_kernel_call, @function
zuva_kernel_call:
    pushq %rbp
    movq %rsp, %rbp
    movq %rdi, %rax
    movq %rsi, %rdi
    movq %rdx, %rsi
    movq %rcx, %rdx
    movq %r8, %r10
    movq %r9, %r8
    syscall
    popq %rbp
    ret
    .size zuva_kernel_call, .-zuva_kernel_call
)");

extern "C" long zuva_kernel_call(long number, long a1, long a2, long a3, long a4, long a5);

namespace zuva {

long system_call(long number, long a1, long a2, long a3, long a4, long a5) {
    long result = zuva_kernel_call(number, a1, a2, a3, a4, a5);
    if (result >= -4095 && result <= -1) {
        last_os_error = static_cast<int32_t>(-result);
        return -1;
    }
    last_os_error = 0;
    return result;
}

}  // namespace zuva
