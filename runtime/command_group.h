// The running command as the kernel knows it: a process group of its own, which has the
// terminal's foreground while it runs, and where cgroup v2 can be written (as root), a cgroup of
// its own too, which also holds the processes that left the group. Pausing, continuing and ending
// reach those and nothing else: not what earlier commands left running, not the installer's own.
#pragma once

#include <cstdint>

namespace zuva {

// The running command's process group (its shell's process id), 0 while none runs.
extern int32_t command_group;

// Before the fork: the cgroup for the next command, and whether it gets the terminal.
void prepare_command();
// In the command's child before exec: into its group and cgroup, with the foreground.
void enter_command_group();
// In the installer, once the command's shell has been forked (pid) and once it has ended: the
// foreground is taken back, whatever the command did with it.
void command_started(int32_t pid);
void command_ended();

// A pause stops the command with the installer and hands the foreground over to it again after.
void pause_command();
void continue_command();
// Passes an ending signal to the command, gives it a moment to end by it, then kills what is left.
void end_command(int signal);

}  // namespace zuva
