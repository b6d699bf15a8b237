#include "runtime/hang_up.h"
#include "runtime/process.h"

namespace zuva {

void runtime_core_init() {
    install_fault_handlers();
    catch_hang_up();
    // The memory manager is the C++ allocator and the command line was saved by the entry;
    // neither needs more here.
    open_standard_streams();
}

}  // namespace zuva
