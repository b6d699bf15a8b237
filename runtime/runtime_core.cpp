#include "runtime/process.h"
#include "runtime/stop_signals.h"

namespace zuva {

void runtime_core_init() {
    install_fault_handlers();
    catch_stop_signals();
    // The memory manager is the C++ allocator and the command line was saved by the entry;
    // neither needs more here.
    open_standard_streams();
}

}  // namespace zuva
