// A hang-up of the terminal interrupts the wait for a key instead of killing the installer,
// so that the dialogue sees the end of its input and ends through the one exit path.
#pragma once

namespace zuva {

void catch_hang_up();

}  // namespace zuva
