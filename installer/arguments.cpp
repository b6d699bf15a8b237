#include "installer/arguments.h"

#include <sys/syscall.h>

#include <cerrno>
#include <string_view>

#include "runtime/disk_file.h"
#include "runtime/process.h"
#include "runtime/system_call.h"

namespace zuva {

namespace {

using namespace std::string_view_literals;

// Plain ASCII, no control sequences: it may land on a terminal in any mode or in a file.
constexpr auto usage_text =
    "Usage: zuva-install [--help | --version]\n"
    "\n"
    "Installs ZUVA Linux pre1-2.0 from its CD onto a hard-disk partition, in a\n"
    "dialogue of message boxes and short typed answers on the Linux console.\n"
    "Run it as root on the ZUVA install system (the machine booted from the\n"
    "ZUVA CD), with no arguments, in a folder where it may write df.tmp.\n"
    "\n"
    "Through /bin/sh it runs, in this order:\n"
    "  mount DEVICE /cdrom                     unless the answer is \"s\"\n"
    "  df > df.tmp\n"
    "  mount PARTITION /drive                  unless the answer is \"s\"\n"
    "  df > df.tmp\n"
    "  mount -o loop /cdrom/zuvahd.img /vdr\n"
    "  cp -ra /vdr/* /drive/\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the program's name and ZUVA's version and exit\n"
    "\n"
    "Any other argument shows this text on standard error and ends with\n"
    "status 240. The whole dialogue and every exit status: man 8 zuva-install\n"sv;

constexpr auto version_text = "zuva-install (ZUVA Linux) pre1-2.0\n"sv;


// Writes the whole text, piece by piece when the descriptor takes less at a time; the error
// number of the write that failed, 0 once everything went out.
int32_t write_all(int32_t fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        long n = system_call(SYS_write, fd, reinterpret_cast<long>(text.data() + done),
                             static_cast<long>(text.size() - done));
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0) {
            return EIO;  // a device that takes nothing would keep this loop going forever
        } else if (last_os_error != EINTR) {
            return last_os_error;
        }
    }
    return 0;
}

[[noreturn]] void end_with(uint16_t status) {
    exit_code = status;
    halt_program();  // no module has started: nothing to give back, no report
}

}  // namespace

void handle_arguments() {
    if (saved_argc <= 1) return;

    // Exactly one argument, spelled out in full; extra words after it are a mistake to point out,
    // not to guess at.
    const std::string_view argument = saved_argc == 2 ? std::string_view(saved_argv[1]) : ""sv;
    if (argument != "--help" && argument != "--version") {
        // Telling the mistake may fail too (standard error closed); the status still says it.
        write_all(2, usage_text);
        end_with(usage_status);
    }

    const int32_t error = write_all(1, argument == "--help" ? usage_text : version_text);
    // A closed standard output counts as /dev/null, as it does for the dialogue. A full device or
    // a pipe nobody reads (with SIGPIPE ignored; otherwise SIGPIPE ends the process) ends with the
    // run-time error number of that write failure: 101.
    if (error == 0 || error == EBADF) end_with(0);
    end_with(os_error_number(error));
}

}  // namespace zuva
