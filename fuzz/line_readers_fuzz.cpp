// The line readers across refills: the same bytes read in one piece and split across reads
// must give the same lines. Both through the text streams' readers over a transfer operation
// of our own, and through the console's plain input on a pipe (a non-terminal descriptor).
// Input: the maximum line length for read_string, then the reads as length-prefixed pieces.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "console/line_input.h"
#include "console/raw_terminal.h"
#include "fuzz/fuzz_input.h"
#include "runtime/text_stream.h"

using namespace zuva;
using zuva::fuzz::require;

namespace {

constexpr size_t max_input = 16384;  // fits a pipe at once, so that one read takes it all

std::vector<std::string_view> reads;
size_t next_read = 0;
int pipe_in = -1;  // the writing end while the console reads the other

// Serves the next read into the stream's buffer; none left is the end of the data.
int serve_read(TextStream& stream) {
    stream.buf_pos = 0;
    stream.buf_end = 0;
    if (next_read < reads.size()) {
        std::string_view bytes = reads[next_read++];
        std::memcpy(stream.buf_ptr, bytes.data(), bytes.size());
        stream.buf_end = static_cast<int32_t>(bytes.size());
    }
    return 0;
}

// The next read waits in the pipe before the console reads it; none left closes the pipe. A
// lone LF brings the read after it too: when it only completes a CR LF, the console reads on.
int feed_console(TextStream& stream) {
    bool more = true;
    while (more && next_read < reads.size()) {
        std::string_view bytes = reads[next_read++];
        require(write(pipe_in, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
                "the pipe takes a whole read");
        more = bytes == "\n";
    }
    if (more && pipe_in >= 0) {
        close(pipe_in);
        pipe_in = -1;
    }
    return console_read(stream);
}

// Every line as the installer reads it (a read-line statement), quoted, one per row.
std::string read_lines(TextStream& stream, uint8_t max) {
    std::string lines;
    while (!at_end_of_file(stream)) {
        BoundedString line;
        read_string(stream, line, max);
        read_line_end(stream);
        require(io_result == 0, "reading an input stream sets no error");
        lines.append("\"").append(view(line)).append(line_end_read ? "\"\n" : "\" (no line end)\n");
    }
    return lines;
}

std::string lines_of(const std::vector<std::string_view>& pieces, bool console, uint8_t max,
                     char* buffer, int32_t buffer_size) {
    reads = pieces;
    next_read = 0;
    TextStream stream;
    stream.mode = mode_input;
    stream.buf_ptr = buffer;
    stream.buf_size = buffer_size;
    stream.transfer_op = serve_read;
    if (console) {
        int ends[2];
        require(pipe(ends) == 0, "a pipe");
        stream.handle = ends[0];
        pipe_in = ends[1];
        stream.transfer_op = feed_console;
        input_redirected = true;  // as start-up sets it for a pipe: no echo
        input_ended = false;
    }
    std::string lines = read_lines(stream, max);
    if (console) {
        close(stream.handle);
        if (pipe_in >= 0) close(pipe_in);
        pipe_in = -1;
    }
    return lines;
}

void require_same(const std::string& got, const std::string& expected, const char* what) {
    if (got != expected) std::fprintf(stderr, "lines:\n%s\nexpected:\n%s\n", got.c_str(), expected.c_str());
    require(got == expected, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > max_input) return 0;
    zuva::fuzz::FuzzInput input{data, size};
    uint8_t max = input.byte();
    std::vector<std::string_view> split;
    std::string whole;
    while (!input.done()) {
        std::string_view bytes = input.piece();
        if (bytes.empty()) continue;  // an empty read would be the end of the data
        split.push_back(bytes);
        whole.append(bytes);
    }
    std::vector<std::string_view> one_read;
    if (!whole.empty()) one_read.push_back(whole);

    static char big[max_input];
    static char small[stream_buffer_size];
    int32_t whole_size = static_cast<int32_t>(whole.size()) + 1;
    std::string expected = lines_of(one_read, false, max, big, whole_size);
    require_same(lines_of(split, false, max, small, stream_buffer_size), expected,
                 "the text stream readers give the same lines across refills");
    require_same(lines_of(one_read, true, max, big, whole_size), expected,
                 "the console's plain input gives the lines of the text stream readers");
    require_same(lines_of(split, true, max, small, stream_buffer_size), expected,
                 "the console's plain input gives the same lines across reads");
    return 0;
}
