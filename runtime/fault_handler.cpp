#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>

#include "runtime/process.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

// Own stack for the fault handler, so that a stack overflow still ends in the report.
alignas(16) char fault_stack[64 * 1024];

uint16_t fpu_error_number(uint16_t status) {
    if ((status & 0x7F) == 0) return 200;
    if (status & 0x04) return 200;  // zero divide
    if (status & 0x08) return 205;  // overflow
    if (status & 0x10) return 206;  // underflow
    if (status & 0x02) return 216;  // denormal operand
    if (status & 0x60) return 207;  // precision or stack fault
    return 216;                     // invalid operation
}

void fault_handler(int signal, siginfo_t*, void* context) {
    if (exit_in_progress) {
        // A fault while the program is already ending: no second report, no loop.
        system_call(SYS_exit_group, exit_code);
    }
    // The handler never returns; unblock the fault signals so that a fault in the exit
    // sequence comes back here instead of killing the process.
    sigset_t faults;
    sigemptyset(&faults);
    sigaddset(&faults, SIGFPE);
    sigaddset(&faults, SIGBUS);
    sigaddset(&faults, SIGILL);
    sigaddset(&faults, SIGSEGV);
    sigprocmask(SIG_UNBLOCK, &faults, nullptr);

    auto* uc = static_cast<ucontext_t*>(context);
    uint16_t number = 216;
    if (signal == SIGFPE) {
        uint16_t status = uc->uc_mcontext.fpregs ? uc->uc_mcontext.fpregs->swd : 0;
        number = fpu_error_number(status);
        uint16_t control = start_control_word;
        asm volatile("fninit\n\tfldcw %0" : : "m"(control));
    }
    auto* address = reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RIP]);
    auto* frame = reinterpret_cast<void*>(uc->uc_mcontext.gregs[REG_RBP]);
    raise_run_error(number, address, frame);
}

void install(int signal, int flags) {
    struct sigaction action {};
    action.sa_sigaction = fault_handler;
    action.sa_flags = SA_SIGINFO | flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

void install_fault_handlers() {
    stack_t alternate {};
    alternate.ss_sp = fault_stack;
    alternate.ss_size = sizeof fault_stack;
    sigaltstack(&alternate, nullptr);
    install(SIGFPE, 0);
    install(SIGBUS, 0);
    install(SIGILL, 0);
    install(SIGSEGV, SA_ONSTACK);
}

}  // namespace zuva
