// Runs the dialogue's screen helpers as a script of arguments, each "operation:argument":
//   reset:            reset_screen
//   box:TEXT          show_message_box
//   write:TEXT        one write statement without a line end
//   list:FILE         list_file
//   free-descriptor:  writes the lowest descriptor that is not open, as a line
// on the console, inside the program's own start-up and exit.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "console/startup.h"
#include "installer/file_listing.h"
#include "installer/message_box.h"
#include "runtime/process.h"
#include "runtime/text_stream.h"

namespace zuva {

const Module module_table[module_count] = {
    {runtime_core_init, nullptr},
    {os_interface_init, os_interface_exit},
    {console_start, console_exit},
};

}  // namespace zuva

namespace {

void write_statement(std::string_view text, bool line_end) {
    zuva::write_string(0, zuva::std_output, text);
    if (line_end)
        zuva::write_line_end(zuva::std_output);
    else
        zuva::write_end(zuva::std_output);
    zuva::check_io();
}

void run_script() {
    zuva::init_modules();
    for (int i = 1; i < zuva::saved_argc; ++i) {
        std::string_view step = zuva::saved_argv[i];
        size_t colon = step.find(':');
        std::string_view operation = step.substr(0, colon);
        std::string_view argument = colon == std::string_view::npos ? "" : step.substr(colon + 1);
        if (operation == "reset") {
            zuva::reset_screen();
        } else if (operation == "box") {
            zuva::show_message_box(zuva::bounded(argument));
        } else if (operation == "write") {
            write_statement(argument, false);
        } else if (operation == "list") {
            zuva::list_file(zuva::bounded(argument));
        } else if (operation == "free-descriptor") {
            int fd = open("/dev/null", O_RDONLY);
            close(fd);
            write_statement(std::to_string(fd), true);
        }
    }
    zuva::halt_program();
}

}  // namespace

int main(int argc, char** argv, char** envp) { zuva::process_entry(argc, argv, envp, run_script); }
