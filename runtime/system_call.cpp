#include "runtime/system_call.h"

#include <ucontext.h>

namespace zuva {

int32_t last_os_error = 0;
volatile int32_t wait_state = wait_idle;

}  // namespace zuva

// The kernel entry keeps a frame of its own: the error report walks from the interrupted
// instruction's frame, and without one the caller's own line would be missing. From its check to
// its syscall instruction it may be redirected to the EINTR return (see cut_short_at).
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
.Lzuva_kernel_check:
    cmpl $2, _ZN4zuva10wait_stateE(%rip)
    je .Lzuva_kernel_cut
.Lzuva_kernel_syscall:
    syscall
    popq %rbp
    ret
.Lzuva_kernel_cut:
    movq $-4, %rax
    popq %rbp
    ret
    .size zuva_kernel_call, .-zuva_kernel_call
    .section .data.rel.ro
    .balign 8
    .globl zuva_kernel_cut_range
zuva_kernel_cut_range:
    .quad .Lzuva_kernel_check, .Lzuva_kernel_syscall, .Lzuva_kernel_cut
    .text
)");

extern "C" long zuva_kernel_call(long number, long a1, long a2, long a3, long a4, long a5);
// The check, the syscall instruction and the EINTR return, as labels without symbols of their own.
extern "C" const greg_t zuva_kernel_cut_range[3];

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

void cut_short_at(void* context) {
    if (wait_state == wait_idle) return;
    wait_state = wait_cut;
    greg_t& at = static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP];
    if (at >= zuva_kernel_cut_range[0] && at <= zuva_kernel_cut_range[1]) at = zuva_kernel_cut_range[2];
}

}  // namespace zuva
