// Throughput of the console's write driver: one write statement's buffer interpreted, the
// screen model kept and the result written to /dev/null.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <benchmark/benchmark.h>

#include "console/colours.h"
#include "console/screen_output.h"
#include "runtime/process.h"
#include "runtime/text_stream.h"

// No modules: the benchmark sets up only the console state it drives.
const zuva::Module zuva::module_table[zuva::module_count] = {};

namespace {

void fresh_console(int fd) {
    zuva::console_out_fd = fd;
    zuva::screen_width = zuva::window_right = 80;
    zuva::screen_height = zuva::window_bottom = 25;
    zuva::cursor_column = zuva::cursor_row = 1;
    zuva::text_attr = zuva::sent_attr = 7;
    zuva::allocate_screen_cells();
}

// A stream buffer holding text repeated up to the 255 bytes of one full write statement.
void fill(zuva::TextStream& stream, const std::string& piece) {
    std::string text;
    while (text.size() + piece.size() <= 255) text += piece;
    stream.mode = zuva::mode_output;
    stream.buf_size = zuva::stream_buffer_size;
    stream.buf_ptr = stream.buffer;
    text.copy(stream.buffer, text.size());
    stream.buf_pos = static_cast<int32_t>(text.size());
}

void run(benchmark::State& state, const std::string& piece) {
    int fd = open("/dev/null", O_WRONLY);
    fresh_console(fd);
    zuva::TextStream stream;
    fill(stream, piece);
    int32_t length = stream.buf_pos;
    for (auto _ : state) {
        stream.buf_pos = length;
        zuva::console_write(stream);
        benchmark::DoNotOptimize(zuva::cursor_column);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
    zuva::release_screen_cells();
    zuva::console_out_fd = 1;
    close(fd);
}

void BM_ConsoleWritePrintable(benchmark::State& state) {
    run(state, "/dev/hda1               1984240    842516   1039324  45% /cdrom\n");
}

void BM_ConsoleWriteLongLines(benchmark::State& state) {
    run(state, "abcdefghijklmnopqrstuvwxyz0123456789");
}

void BM_ConsoleWriteEscapes(benchmark::State& state) {
    run(state, "\x1b[1;33;44mA\x1b[5;10H\x1b[K\x1b[0;30;47mB\x1b[2C\x1b[mC\x1b[?25h");
}

}  // namespace

BENCHMARK(BM_ConsoleWritePrintable);
BENCHMARK(BM_ConsoleWriteLongLines);
BENCHMARK(BM_ConsoleWriteEscapes);
BENCHMARK_MAIN();
