// Reads answers from std_input through the console's line editor, as the dialogue does, and
// records each one, as "line:TEXT", in the file named by its argument; "ended" when the input
// ended. Started on a pseudo-terminal by the line-editor tests.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "console/line_input.h"
#include "console/startup.h"
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

int record = -1;

void note(const std::string& text) {
    std::string line = text + "\n";
    if (write(record, line.data(), line.size()) < 0) _exit(3);
}

void read_answers() {
    zuva::init_modules();
    for (;;) {
        zuva::BoundedString answer;
        zuva::read_string(zuva::std_input, answer);
        zuva::read_line_end(zuva::std_input);
        zuva::check_io();
        if (!zuva::line_end_read && zuva::input_ended) break;
        note("line:" + std::string(zuva::view(answer)));
    }
    note("ended");
    zuva::halt_program();
}

}  // namespace

int main(int argc, char** argv, char** envp) {
    if (argc < 2) return 2;
    record = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (record < 0) return 2;
    zuva::process_entry(argc, argv, envp, read_answers);
}
