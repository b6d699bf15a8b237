#include "installer/flow.h"

#include "runtime/process.h"

namespace zuva {

void run_installer() {}

void installer_main() {
    init_modules();
    run_installer();
    halt_program();
}

}  // namespace zuva
