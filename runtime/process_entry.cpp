#include "runtime/process.h"

#include <fcntl.h>
#include <sys/syscall.h>

#include <cerrno>

#include "runtime/system_call.h"

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

namespace {

// A standard descriptor that came closed gets /dev/null, before anything else opens a file:
// otherwise the first file opened (df.tmp) would take its place, and every command after it
// would inherit that file as its standard output.
void fill_closed_standard_descriptors() {
    for (long fd = 0; fd <= 2; ++fd) {
        if (system_call(SYS_fcntl, fd, F_GETFD) == -1 && last_os_error == EBADF)
            system_call(SYS_open, reinterpret_cast<long>("/dev/null"), O_RDWR);
    }
    last_os_error = 0;
}

}  // namespace

void process_entry(int argc, char** argv, char** envp, void (*main_routine)()) {
    fill_closed_standard_descriptors();
    saved_argc = argc;
    saved_argv = argv;
    saved_envp = envp;
    uint16_t control = start_control_word;
    asm volatile("fldcw %0" : : "m"(control));
    zuva_call_outermost(main_routine);
}

}  // namespace zuva
