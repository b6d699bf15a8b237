#include <sys/syscall.h>

#include <cstdint>

#include "runtime/process.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

// The local time-zone tables, held for the run; nothing in the dialogue reads them.
char* zone_tables = nullptr;
long zone_tables_size = 0;

}  // namespace

void os_interface_init() {
    long fd = system_call(SYS_open, reinterpret_cast<long>("/etc/localtime"), 0, 0);
    if (fd < 0) return;
    constexpr long limit = 64 * 1024;
    zone_tables = new char[limit];
    long n;
    while (zone_tables_size < limit &&
           (n = system_call(SYS_read, fd, reinterpret_cast<long>(zone_tables + zone_tables_size),
                            limit - zone_tables_size)) > 0)
        zone_tables_size += n;
    system_call(SYS_close, fd);
}

void os_interface_exit() {
    delete[] zone_tables;
    zone_tables = nullptr;
    zone_tables_size = 0;
}

}  // namespace zuva
