#include <fcntl.h>
#include <sys/syscall.h>

#include <cstdint>

#include "runtime/process.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

// The local time-zone tables, held for the run; nothing in the dialogue reads them. In place, so
// that the exit path (also from the fault handler) releases them without the allocator.
constexpr long zone_tables_limit = 64 * 1024;
char zone_tables[zone_tables_limit];
long zone_tables_size = 0;

}  // namespace

void os_interface_init() {
    long fd = system_call(SYS_open, reinterpret_cast<long>("/etc/localtime"), O_RDONLY, 0);
    if (fd < 0) return;
    long n;
    while (zone_tables_size < zone_tables_limit &&
           (n = system_call(SYS_read, fd, reinterpret_cast<long>(zone_tables + zone_tables_size),
                            zone_tables_limit - zone_tables_size)) > 0)
        zone_tables_size += n;
    system_call(SYS_close, fd);
}

void os_interface_exit() { zone_tables_size = 0; }

}  // namespace zuva
