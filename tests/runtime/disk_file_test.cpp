// The disk driver against real files, directories and descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "runtime/disk_file.h"
#include "runtime/system_call.h"
#include "runtime/text_stream.h"
#include "tests/support/terminal.h"

using namespace zuva;
using zuva::test::TempDir;
using zuva::test::write_file;

namespace {

int open_descriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

// Opens name for reading; returns the io_result left behind (and clears it).
uint16_t open_result(TextStream& s, const std::string& name) {
    io_result = 0;
    bind_stream(s, bounded(name));
    open_for_reading(s);
    uint16_t r = io_result;
    io_result = 0;
    return r;
}

}  // namespace

TEST(DiskFileTest, FailedOpensGiveTheirNumbersAndLeakNothing) {
    TempDir dir;
    write_file(dir.file("plain"), "x\n");
    TextStream s;

    int before = open_descriptors();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(open_result(s, dir.file("missing")), 2);
        EXPECT_EQ(s.mode, mode_closed);
        EXPECT_EQ(s.handle, -1);
        EXPECT_NE(s.transfer_op, nullptr);
        EXPECT_NE(s.close_op, nullptr);
        ASSERT_EQ(open_result(s, dir.file("plain") + "/below"), 3);
        ASSERT_EQ(open_result(s, std::string(300, 'a')), 2) << "a name cut to 255 is simply missing";
    }
    EXPECT_EQ(open_descriptors(), before);

    symlink("loop", dir.file("loop").c_str());
    EXPECT_EQ(open_result(s, dir.file("loop")), 3);
}

TEST(DiskFileTest, ADirectoryOpensButCannotBeRead) {
    TempDir dir;
    TextStream s;
    ASSERT_EQ(open_result(s, dir.path), 0);
    BoundedString line;
    read_string(s, line);
    EXPECT_EQ(io_result, 5);
    EXPECT_EQ(s.buf_end, 0);
    io_result = 0;
    close_stream(s);
}

TEST(DiskFileTest, AFileOfExactlyOneBufferTakesTwoRefills) {
    TempDir dir;
    write_file(dir.file("full"), std::string(255, 'a') + "\n");
    TextStream s;
    ASSERT_EQ(open_result(s, dir.file("full")), 0);
    BoundedString line;
    read_string(s, line);
    EXPECT_EQ(s.buf_end, 256);
    read_line_end(s);
    EXPECT_EQ(line.length, 255);
    EXPECT_TRUE(at_end_of_file(s));
    EXPECT_EQ(s.buf_end, 0);
    EXPECT_EQ(io_result, 0);
    int fd = s.handle;
    close_stream(s);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "closing releases the descriptor";
}

// Failures the system gives, each as the number the report shows: a running program or a
// directory opened for writing, a full disk, a pipe nobody reads; a number without a meaning of
// its own as itself.
TEST(DiskFileTest, FailuresGiveTheirNumbersAndAPendingOneStays) {
    TempDir dir;
    signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const std::string unread_pipe = "/proc/self/fd/" + std::to_string(ends[1]);
    struct { std::string name; uint16_t opened, written; } cases[] = {
        {"/proc/self/exe", 162, 0}, {dir.path, 5, 0}, {"/dev/full", 0, 101}, {unread_pipe, 0, 101}};
    for (const auto& c : cases) {
        TextStream s;
        io_result = 0;
        bind_stream(s, bounded(c.name));
        open_for_writing(s);
        EXPECT_EQ(io_result, c.opened) << c.name;
        if (io_result != 0) continue;
        write_string(0, s, "lost");
        write_line_end(s);
        EXPECT_EQ(io_result, c.written) << c.name;
        io_result = 0;
        close_stream(s);
    }
    close(ends[1]);

    // Every Linux error number as the manual page tells it: the number its list gives the
    // error's name, or the error number itself.
    std::map<std::string, int> listed;
    int number = 0;
    for (const std::string& line : test::lines_of(test::read_file(ZUVA_SOURCE_DIR "/docs/zuva-install.8"))) {
        if (line.rfind(".B ", 0) == 0 && line.find_first_not_of("0123456789", 3) == std::string::npos) {
            number = std::stoi(line.substr(3));
        } else if (const std::size_t open = line.find("(E"); number && open != std::string::npos) {
            std::istringstream names(line.substr(open + 1, line.find(')', open) - open - 1));
            for (std::string name; std::getline(names >> std::ws, name, ',');) listed[name] = number;
        }
    }
    ASSERT_GE(listed.size(), 20u);
    for (int error = 1; error <= 133; ++error) {
        const std::string name = strerrorname_np(error) ? strerrorname_np(error) : "";
        io_result = 0;
        last_os_error = error;
        map_os_error();
        EXPECT_EQ(io_result, listed.count(name) ? listed[name] : error) << name;
    }

    // A successful call leaves a pending failure alone.
    io_result = 77;
    EXPECT_GE(system_call(39 /* getpid */), 1);
    EXPECT_EQ(last_os_error, 0);
    map_os_error();
    EXPECT_EQ(io_result, 77);
    io_result = 0;
}

TEST(DiskFileTest, TooManyOpenFilesGivesFour) {
    TempDir dir;
    write_file(dir.file("f"), "x");
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit limit {8, 8};
        setrlimit(RLIMIT_NOFILE, &limit);
        TextStream streams[10];
        for (auto& s : streams) {
            if (open_result(s, dir.file("f")) == 4) _exit(4);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(test::exit_shown(status), "exit status 4");
}

// The signal comes while the child sits in the read, the bytes once it sits in it again.
int taken_fd = -1;

TEST(DiskFileTest, AnInterruptedReadIsRepeated) {
    int fds[2], taken[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(pipe(taken), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[1]);
        taken_fd = taken[1];
        struct sigaction action {};
        action.sa_handler = [](int) { (void)!write(taken_fd, "s", 1); };
        sigaction(SIGALRM, &action, nullptr);  // no SA_RESTART: the read is interrupted
        char buf[8];
        io_result = 0;
        int32_t n = os_read(fds[0], buf, sizeof buf);
        _exit(n == 2 && io_result == 0 && last_os_error == 0 ? 0 : 1);
    }
    close(fds[0]);
    ASSERT_TRUE(test::comes_to_call(pid, SYS_read));
    kill(pid, SIGALRM);
    char s = 0;
    ASSERT_EQ(read(taken[0], &s, 1), 1);
    ASSERT_TRUE(test::comes_to_call(pid, SYS_read));
    ASSERT_EQ(write(fds[1], "ok", 2), 2);
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(test::exit_shown(status), "exit status 0");
}

TEST(DiskFileTest, FailedOrShortWritesGive101) {
    TextStream out;
    open_standard_stream(out, mode_output, 999);  // no such descriptor
    io_result = 0;
    write_string(0, out, "lost");
    write_line_end(out);
    EXPECT_EQ(io_result, 101);
    EXPECT_EQ(out.buf_pos, 0);
    io_result = 0;
    EXPECT_FALSE(is_terminal(999));
    EXPECT_EQ(last_os_error, 0);
    EXPECT_EQ(io_result, 0);
}
