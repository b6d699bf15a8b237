#include "runtime/hang_up.h"

#include <signal.h>

namespace zuva {

namespace {

void note_hang_up(int) {}

}  // namespace

void catch_hang_up() {
    // Ignored at start (nohup), it stays ignored, for the installer and its commands alike:
    // a hang-up must not cut the copy short.
    struct sigaction found {};
    sigaction(SIGHUP, nullptr, &found);
    if (found.sa_handler == SIG_IGN) return;
    // A handler, not SIG_IGN: commands started later get the default action back at exec.
    struct sigaction action {};
    action.sa_handler = note_hang_up;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}

}  // namespace zuva
