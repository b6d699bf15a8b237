// A terminal at the far end of a VM's serial line: QEMU connects ttyS0 to a Unix socket that
// this listens on; what arrives is drawn by a libvterm screen of a chosen size, the emulator's
// answers (the cursor report) go back over the line, optionally in pieces, and keys are typed
// onto it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/screen_cells.h"
#include "tests/support/terminal.h"

namespace zuva::test {

class SerialTerminal {
public:
    SerialTerminal(int cols, int rows) : screen(cols, rows) {}
    ~SerialTerminal();
    SerialTerminal(const SerialTerminal&) = delete;
    SerialTerminal& operator=(const SerialTerminal&) = delete;

    // Listens on the path before the VM starts (scripts/vm --serial-line socket:PATH); false,
    // with the reason in error, when it cannot.
    bool listen(const std::string& path);
    // Draws what arrived within timeout_ms, taking QEMU's connection first; false once the line
    // is closed.
    bool pump(int timeout_ms = 50);
    void type(std::string_view keys);
    ScreenCells cells() const { return cells_of(screen); }
    // Until the screen satisfies the condition and nothing more arrives for a moment, while the
    // line is up; the screen, or nullopt.
    std::optional<ScreenCells> wait_for_screen(const std::function<bool(const ScreenCells&)>& condition,
                                               int timeout_ms = 60000);
    // Until the text has arrived after the offset into received.
    bool wait_for_text(std::string_view text, int timeout_ms = 60000, std::size_t from = 0);

    VtScreen screen;
    bool answer_queries = true;
    // The answers sent in pieces of this many bytes with the delay between them; 0: whole.
    std::size_t reply_piece = 0;
    int reply_delay_ms = 10;
    int answers_sent = 0;
    std::string received;  // every byte that came over the line
    std::string error;

private:
    int listener_ = -1;
    int line_ = -1;
    std::string path_;
};

}  // namespace zuva::test
