#include "runtime/hang_up.h"

#include <signal.h>

namespace zuva {

namespace {

void note_hang_up(int) {}

}  // namespace

void catch_hang_up() {
    // A handler, not SIG_IGN: commands started later get the default action back at exec.
    struct sigaction action {};
    action.sa_handler = note_hang_up;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}

}  // namespace zuva
