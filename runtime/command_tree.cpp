#include "runtime/command_tree.h"

#include <sys/mman.h>
#include <sys/syscall.h>

#include <ctime>

#include "runtime/system_call.h"

namespace zuva {

namespace {

constexpr long sigkill = 9, sigstop = 19, sigcont = 18;
constexpr int esrch = 3, echild = 10;
constexpr long wait_all = 0x40000000;  // __WALL: children of any kind
constexpr int32_t grace_ms = 500;       // for cleaning up after the signal
constexpr int32_t kill_wait_ms = 1000;  // a process stuck in the kernel is not waited for longer

bool orphans_kept = false;

}  // namespace

int32_t running_command = 0;

namespace {

bool add(ProcessList& list, int32_t pid) {
    if (list.count == list.room) {
        const long room = list.room ? list.room * 2 : 1024;
        const size_t bytes = size_t(room) * sizeof(int32_t);
        void* block = list.pids == nullptr
                          ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                          : mremap(list.pids, size_t(list.room) * sizeof(int32_t), bytes, MREMAP_MAYMOVE);
        if (block == MAP_FAILED) return false;  // what is listed so far is all that is handled
        list.pids = static_cast<int32_t*>(block);
        list.room = room;
    }
    list.pids[list.count++] = pid;
    return true;
}

bool listed(const ProcessList& list, int32_t pid) {
    for (long i = 0; i < list.count; ++i)
        if (list.pids[i] == pid) return true;
    return false;
}

char* put(char* at, const char* text) {
    while (*text) *at++ = *text++;
    return at;
}

char* put_number(char* at, int32_t n) {
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n > 0);
    while (count > 0) *at++ = digits[--count];
    return at;
}

// Reads decimal numbers separated by anything else from the descriptor, in pieces, calling
// found for each; a number may be cut between two reads.
template <typename Found>
void read_numbers(long fd, Found found) {
    char piece[512];
    int32_t number = 0;
    bool in_number = false;
    long got;
    while ((got = system_call(SYS_read, fd, reinterpret_cast<long>(piece), sizeof piece)) > 0) {
        for (long i = 0; i < got; ++i) {
            if (piece[i] >= '0' && piece[i] <= '9') {
                number = number * 10 + (piece[i] - '0');
                in_number = true;
            } else if (in_number) {
                found(number);
                number = 0;
                in_number = false;
            }
        }
    }
    if (in_number) found(number);
}

// Every child of every thread of the process: /proc/PID/task/TID/children. False when the
// process is gone or there is no /proc.
template <typename Found>
bool for_each_child(int32_t pid, Found found) {
    char path[64];
    char* task_end = put(put_number(put(path, "/proc/"), pid), "/task");
    *task_end = '\0';
    long tasks = system_call(SYS_open, reinterpret_cast<long>(path), 0x10000 /* O_DIRECTORY */);
    if (tasks < 0) return false;
    alignas(8) char entries[1024];
    long got;
    while ((got = system_call(SYS_getdents64, tasks, reinterpret_cast<long>(entries), sizeof entries)) > 0) {
        for (long at = 0; at < got;) {
            // linux_dirent64: inode (8), offset (8), record length (2), type (1), name
            const unsigned short length = *reinterpret_cast<unsigned short*>(entries + at + 16);
            const char* name = entries + at + 19;
            at += length;
            if (name[0] < '0' || name[0] > '9') continue;
            char* end = put(put(put(task_end, "/"), name), "/children");
            *end = '\0';
            long children = system_call(SYS_open, reinterpret_cast<long>(path), 0);
            if (children < 0) continue;
            read_numbers(children, found);
            system_call(SYS_close, children);
        }
    }
    system_call(SYS_close, tasks);
    return true;
}

void sleep_ms(int32_t ms) {
    timespec time{0, ms * 1000000L};
    system_call(SYS_nanosleep, reinterpret_cast<long>(&time), 0);
}

// Reaps every child that has ended; false once the installer has no child left.
bool reap_children() {
    for (;;) {
        int status = 0;
        long pid = system_call(SYS_wait4, -1, reinterpret_cast<long>(&status), 1 /* WNOHANG */ | wait_all, 0);
        if (pid > 0) continue;
        return !(pid == -1 && last_os_error == echild);
    }
}

// Reaps what has ended until none is left or the time is up; true when none is left.
bool wait_for_none(int32_t ms) {
    for (int32_t waited = 0;; waited += 10) {
        if (!reap_children()) return true;
        if (waited >= ms) return false;
        sleep_ms(10);
    }
}

}  // namespace

void keep_command_orphans() {
    orphans_kept = system_call(SYS_prctl, 36 /* PR_SET_CHILD_SUBREAPER */, 1) == 0;
}

void freeze_commands(ProcessList& list) {
    list.count = 0;
    const int32_t self = static_cast<int32_t>(system_call(SYS_getpid));
    // Listed breadth first, each stopped before its children are read: no recursion, however
    // deep the tree.
    long next = 0;
    for (;;) {
        bool found_more = false;
        // The installer's own children: the command's shell, and orphans handed over meanwhile
        // by a parent that ended before it could be stopped.
        auto found = [&](int32_t pid) {
            if (!listed(list, pid) && add(list, pid)) found_more = true;
        };
        if (!for_each_child(self, found) && running_command > 0) found(running_command);
        if (!found_more) break;
        for (; next < list.count; ++next) {
            const int32_t pid = list.pids[next];
            if (system_call(SYS_kill, pid, sigstop) != 0 && last_os_error == esrch) continue;
            for_each_child(pid, [&](int32_t child) { add(list, child); });
        }
    }
}

void signal_commands(const ProcessList& list, int signal) {
    for (long i = 0; i < list.count; ++i) system_call(SYS_kill, list.pids[i], signal);
}

void release_process_list(ProcessList& list) {
    if (list.pids) munmap(list.pids, size_t(list.room) * sizeof(int32_t));
    list = ProcessList{};
}

void reap_command_orphans() {
    // Only orphans handed over are the installer's to reap; a program that merely runs commands
    // (a test) keeps its other children's ends for itself.
    if (orphans_kept) reap_children();
}

void end_commands(int signal) {
    ProcessList commands;
    freeze_commands(commands);
    if (commands.count == 0) return;
    // All stopped: the signal reaches each before any can react to another's end.
    signal_commands(commands, signal);
    signal_commands(commands, sigcont);
    release_process_list(commands);
    // The orphans come to the installer as their reaper, so its own children are all there is
    // to wait for.
    if (wait_for_none(grace_ms)) return;
    // What ignored the signal or outlived the moment goes all the same.
    freeze_commands(commands);
    signal_commands(commands, sigkill);
    release_process_list(commands);
    wait_for_none(kill_wait_ms);
}

}  // namespace zuva
