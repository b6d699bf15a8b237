#include "runtime/process.h"

namespace zuva {

int saved_argc = 0;
char** saved_argv = nullptr;
char** saved_envp = nullptr;

}  // namespace zuva

// Calls the main routine with a null frame link, so that its frame is the outermost one
// and the frame walk of the error report ends there.
asm(R"(
    .text
    .globl zuva_call_outermost
    .type zuva_call_outermost, @function
zuva_call_outermost:
    pushq %rbp
    xorl %ebp, %ebp
    call *%rdi
    ud2
    .size zuva_call_outermost, .-zuva_call_outermost
)");

extern "C" [[noreturn]] void zuva_call_outermost(void (*main_routine)());

namespace zuva {

void process_entry(int argc, char** argv, char** envp, void (*main_routine)()) {
    saved_argc = argc;
    saved_argv = argv;
    saved_envp = envp;
    uint16_t control = start_control_word;
    asm volatile("fldcw %0" : : "m"(control));
    zuva_call_outermost(main_routine);
}

}  // namespace zuva
