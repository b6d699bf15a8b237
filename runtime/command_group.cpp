#include "runtime/command_group.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "runtime/stop_signals.h"
#include "runtime/system_call.h"

namespace zuva {

int32_t command_group = 0;

namespace {

constexpr int32_t grace_ms = 500;       // for cleaning up after the signal
constexpr int32_t kill_wait_ms = 1000;  // a process stuck in the kernel is not waited for longer
constexpr long path_room = 512;

// The controlling terminal when the installer has its foreground at the command's start, -1
// otherwise; handed while the command has it from the installer.
int32_t terminal_fd = -1;
bool handed = false;
// The command's cgroup folder, empty when there is none.
char cgroup[path_room];
long command_count = 0;

long foreground_of(int32_t fd) {
    int32_t group = 0;
    return system_call(SYS_ioctl, fd, TIOCGPGRP, reinterpret_cast<long>(&group)) == 0 ? group : -1;
}

// With SIGTTOU held off: the installer asks from the background while the command has the terminal.
void give_foreground(int32_t group) {
    hold_terminal_stops(true);
    system_call(SYS_ioctl, terminal_fd, TIOCSPGRP, reinterpret_cast<long>(&group));
    hold_terminal_stops(false);
}

// A file of the command's cgroup: its path in the given room.
const char* cgroup_file(char (&path)[path_room], const char* name) {
    if (std::snprintf(path, path_room, "%s/%s", cgroup, name) >= path_room) path[0] = '\0';
    return path;
}

bool write_cgroup_file(const char* name, const char* text, long length) {
    char path[path_room];
    const long fd = system_call(SYS_open, reinterpret_cast<long>(cgroup_file(path, name)), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = system_call(SYS_write, fd, reinterpret_cast<long>(text), length) == length;
    system_call(SYS_close, fd);
    return written;
}

// Sends the signal to every process of the cgroup's list (those that left the group included);
// the count of those listed, 0 without a cgroup.
long signal_cgroup(int signal) {
    if (cgroup[0] == '\0') return 0;
    char path[path_room];
    const long fd = system_call(SYS_open, reinterpret_cast<long>(cgroup_file(path, "cgroup.procs")), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    long listed = 0, pid = 0;
    char piece[512];
    long got;
    while ((got = system_call(SYS_read, fd, reinterpret_cast<long>(piece), sizeof piece)) > 0) {
        for (long i = 0; i < got; ++i) {
            if (piece[i] >= '0' && piece[i] <= '9') {
                pid = pid * 10 + (piece[i] - '0');
            } else if (pid > 0) {
                if (signal != 0) system_call(SYS_kill, pid, signal);
                ++listed;
                pid = 0;
            }
        }
    }
    system_call(SYS_close, fd);
    return listed;
}

void signal_command(int signal) {
    system_call(SYS_kill, -command_group, signal);
    signal_cgroup(signal);
}

// Reaps the command's shell once it has ended; true while any process of the command is left.
bool command_left() {
    int status = 0;
    system_call(SYS_wait4, command_group, reinterpret_cast<long>(&status), WNOHANG, 0);
    const bool group_left = !(system_call(SYS_kill, -command_group, 0) == -1 && last_os_error == ESRCH);
    return group_left || signal_cgroup(0) > 0;
}

bool wait_for_none(int32_t ms) {
    for (int32_t waited = 0;; waited += 10) {
        if (!command_left()) return true;
        if (waited >= ms) return false;
        timespec time{0, 10 * 1000000L};
        system_call(SYS_nanosleep, reinterpret_cast<long>(&time), 0);
    }
}

// The installer's own cgroup under a cgroup v2 mount, from /proc/self/cgroup ("0::/path").
bool find_own_cgroup(char (&path)[path_room]) {
    const long fd = system_call(SYS_open, reinterpret_cast<long>("/proc/self/cgroup"), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char lines[1024] = "\n";
    const long got = system_call(SYS_read, fd, reinterpret_cast<long>(lines + 1), sizeof lines - 2);
    system_call(SYS_close, fd);
    char* own = got > 0 ? std::strstr(lines, "\n0::/") : nullptr;
    if (own == nullptr) return false;
    own += 4;
    own[std::strcspn(own, "\n")] = '\0';
    for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
        std::snprintf(path, path_room, "%s%s/cgroup.procs", mount, own[1] ? own : "");
        if (system_call(SYS_access, reinterpret_cast<long>(path), W_OK) == 0) {
            std::snprintf(path, path_room, "%s%s", mount, own[1] ? own : "");
            return true;
        }
    }
    return false;
}

}  // namespace

void prepare_command() {
    static bool cgroups_tried = false, cgroups_usable = false;
    static char own[path_room];
    if (!cgroups_tried) {
        cgroups_tried = true;
        cgroups_usable = find_own_cgroup(own);
    }
    cgroup[0] = '\0';
    if (cgroups_usable) {
        const long pid = system_call(SYS_getpid);
        if (std::snprintf(cgroup, path_room, "%s/zuva-install.%ld.%ld", own, pid, ++command_count) >= path_room ||
            system_call(SYS_mkdir, reinterpret_cast<long>(cgroup), 0755) != 0)
            cgroup[0] = '\0';
    }
    terminal_fd = -1;
    // A group outside the installer's pid namespace reads as 0: one it could not take back.
    const long own_group = system_call(SYS_getpgid, 0);
    for (int32_t fd = 0; fd <= 2 && terminal_fd < 0 && own_group > 0; ++fd)
        if (foreground_of(fd) == own_group) terminal_fd = fd;
}

void enter_command_group() {
    system_call(SYS_setpgid, 0, 0);
    if (cgroup[0] != '\0') write_cgroup_file("cgroup.procs", "0", 1);
    // Here too, so that the command never reads the terminal before the installer has handed it.
    if (terminal_fd >= 0) give_foreground(static_cast<int32_t>(system_call(SYS_getpid)));
}

void command_started(int32_t pid) {
    system_call(SYS_setpgid, pid, pid);
    command_group = pid;
    handed = terminal_fd >= 0;
    if (handed) give_foreground(pid);
}

void command_ended() {
    if (handed && foreground_of(terminal_fd) != system_call(SYS_getpgid, 0)) give_foreground(static_cast<int32_t>(system_call(SYS_getpgid, 0)));
    handed = false;
    command_group = 0;
    // Left in place while a process that the command left running is still in it.
    if (cgroup[0] != '\0') system_call(SYS_rmdir, reinterpret_cast<long>(cgroup));
    cgroup[0] = '\0';
}

void pause_command() {
    if (command_group == 0) return;
    signal_command(SIGSTOP);
    // The shell that stopped the installer takes the terminal; handed again after `fg`.
    handed = false;
}

void continue_command() {
    if (command_group == 0) return;
    if (terminal_fd >= 0 && foreground_of(terminal_fd) == system_call(SYS_getpgid, 0)) {
        give_foreground(command_group);
        handed = true;
    }
    signal_command(SIGCONT);
}

void end_command(int signal) {
    if (command_group == 0) return;
    signal_command(signal);
    signal_command(SIGCONT);
    if (!wait_for_none(grace_ms)) {
        // What ignored the signal or outlived the moment goes all the same.
        if (cgroup[0] != '\0') write_cgroup_file("cgroup.kill", "1", 1);
        signal_command(SIGKILL);
        wait_for_none(kill_wait_ms);
    }
    command_ended();
}

}  // namespace zuva
