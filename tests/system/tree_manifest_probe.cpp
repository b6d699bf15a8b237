// Writes the manifest of a directory tree to a file: run inside the installation sandbox, where
// the target is mounted, so that the test can compare it with the sample tree outside.
//   tree_manifest_probe ROOT OUTPUT
#include <cstdio>

#include "runtime/process.h"
#include "tools/tree_manifest.h"

namespace zuva {
const Module module_table[module_count] = {{nullptr, nullptr}, {nullptr, nullptr}, {nullptr, nullptr}};
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ROOT OUTPUT\n", argv[0]);
        return 2;
    }
    std::string text = zuva::manifest::manifest_text(zuva::manifest::walk_tree(argv[1]));
    std::FILE* out = std::fopen(argv[2], "w");
    if (!out) return 1;
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
