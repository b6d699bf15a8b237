#include "runtime/system_call.h"

namespace zuva {

int32_t last_os_error = 0;

long system_call(long number, long a1, long a2, long a3, long a4) {
    long result;
    register long r10 asm("r10") = a4;
    asm volatile("syscall"
                 : "=a"(result)
                 : "a"(number), "D"(a1), "S"(a2), "d"(a3), "r"(r10)
                 : "rcx", "r11", "memory");
    if (result >= -4095 && result <= -1) {
        last_os_error = static_cast<int32_t>(-result);
        return -1;
    }
    last_os_error = 0;
    return result;
}

}  // namespace zuva
