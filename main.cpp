// The process entry of the ZUVA Linux installer.
#include "console/startup.h"
#include "installer/flow.h"
#include "runtime/process.h"

namespace zuva {

const Module module_table[module_count] = {
    {runtime_core_init, nullptr},
    {os_interface_init, os_interface_exit},
    {console_start, console_exit},
};

}  // namespace zuva

int main(int argc, char** argv, char** envp) { zuva::process_entry(argc, argv, envp, zuva::installer_main); }
