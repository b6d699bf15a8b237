// The installer dialogue from the welcome box to the closing instructions.
#pragma once

namespace zuva {

void run_installer();

// The program's main routine: module start-up, the dialogue once, the one exit path.
[[noreturn]] void installer_main();

}  // namespace zuva
