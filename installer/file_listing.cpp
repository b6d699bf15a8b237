#include "installer/file_listing.h"

#include "runtime/process.h"
#include "runtime/text_stream.h"

namespace zuva {

void list_file(const BoundedString& name) {
    BoundedString file_name;
    assign(file_name, name);
    TextStream file;
    BoundedString line;

    bind_stream(file, file_name);
    open_for_reading(file);
    check_io();
    // The end test follows the first line, so an empty file still lists one empty line.
    for (;;) {
        read_string(file, line, 255);
        read_line_end(file);
        check_io();
        write_string(0, std_output, line);
        write_line_end(std_output);
        check_io();
        const bool at_end = at_end_of_file(file);
        check_io();
        if (at_end) break;
    }
    // Each listing opens the file anew; release the descriptor rather than leak one per listing.
    close_stream(file);
    check_io();
}

}  // namespace zuva
