// The processes that the installer's commands started, however many and however deep: stopped,
// signalled and continued together, and none left behind when the installer is ended.
#pragma once

#include <cstdint>

namespace zuva {

// Process ids in memory of their own (mapped, not from the allocator: the exit path uses it).
struct ProcessList {
    int32_t* pids = nullptr;
    long count = 0;
    long room = 0;
};

// The command's shell while the installer waits for it, 0 otherwise: without /proc it is all of
// the tree that can be found.
extern int32_t running_command;

// Makes the installer the reaper of its commands' orphans, so that a process whose parent ended
// stays within reach instead of going to init.
void keep_command_orphans();
// Stops every process below the installer, top down, and lists them: a stopped process starts
// no more, so nothing can slip away while the list is made.
void freeze_commands(ProcessList& list);
void signal_commands(const ProcessList& list, int signal);
void release_process_list(ProcessList& list);
// Reaps the orphans handed over to the installer that have ended.
void reap_command_orphans();
// Passes an ending signal to every process below the installer, gives them a moment to end by
// it, then kills what is left, so that no command outlives the installer.
void end_commands(int signal);

}  // namespace zuva
