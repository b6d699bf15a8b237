// Regenerates the pictures of the installer's screens and their text dumps.
//   zuva-screens INSTALLER STANDINS OUTDIR
#include <cstdio>
#include <fstream>

#include "tools/console_font.h"
#include "tools/screen_picture.h"
#include "tools/screen_tour.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s INSTALLER STANDINS OUTDIR\n", argv[0]);
        return 2;
    }
    zuva::tools::ConsoleFont font;
    std::string font_path = zuva::tools::find_console_font(font);
    if (font_path.empty()) {
        std::fprintf(stderr, "%s: no console font (Debian: console-setup-linux)\n", argv[0]);
        return 1;
    }
    std::vector<zuva::tools::NamedShot> shots;
    std::string error;
    if (!zuva::tools::take_screen_tour(argv[1], argv[2], shots, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
        return 1;
    }
    std::string out = argv[3];
    for (const auto& [name, shot] : shots) {
        std::ofstream text(out + "/" + name + ".txt", std::ios::binary);
        text << zuva::tools::screen_text(shot);
        if (!text || !zuva::tools::write_png(out + "/" + name + ".png", zuva::tools::render_screen(shot, font))) {
            std::fprintf(stderr, "%s: cannot write %s/%s\n", argv[0], out.c_str(), name.c_str());
            return 1;
        }
        std::printf("%s/%s.png\n", out.c_str(), name.c_str());
    }
    std::printf("font: %s\n", font_path.c_str());
    return 0;
}
