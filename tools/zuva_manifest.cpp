// The manifest of a directory tree, and the comparison of two: the live system on the ZUVA CD
// reports what reached the target with it, and the try command says what arrived.
//
//   zuva-manifest ROOT                   prints the manifest text of the tree below ROOT
//   zuva-manifest --compare EXPECTED ACTUAL
//       EXPECTED and ACTUAL are trees or manifest texts. Prints how many entries were compared,
//       what the installer's wildcard copy leaves out by its nature (top-level dot names), what
//       the target may have of its own (lost+found), then one line per difference. Exit status
//       0 when nothing differs, 1 when something does, 2 when a side cannot be read.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tools/tree_manifest.h"

namespace {

bool load(const std::string& path, zuva::manifest::TreeManifest& manifest) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        manifest = zuva::manifest::walk_tree(path);
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) return false;
    manifest = zuva::manifest::parse_manifest(text.str());
    return true;
}

int compare(const std::string& expected_path, const std::string& actual_path) {
    zuva::manifest::TreeManifest expected, actual;
    for (const auto& [path, manifest] : {std::pair{&expected_path, &expected}, std::pair{&actual_path, &actual}})
        if (!load(*path, *manifest)) {
            std::fprintf(stderr, "zuva-manifest: cannot read %s\n", path->c_str());
            return 2;
        }
    // "cp -ra /vdr/* /drive/": the shell's * skips names starting with a dot at the top.
    std::set<std::string> dot_names;
    for (const auto& [path, entry] : expected)
        if (path[0] == '.' && path.find('/') == std::string::npos) dot_names.insert(path);
    std::vector<std::string> differences =
        zuva::manifest::compare_trees(expected, actual, dot_names, {"lost+found"});
    std::size_t carried = expected.size() - dot_names.size();
    std::printf("%zu entries expected, %zu on the target.\n", carried, actual.size());
    if (!dot_names.empty()) {
        std::printf("Left out by the wildcard of cp -ra /vdr/* /drive/:");
        for (const std::string& name : dot_names) std::printf(" %s", name.c_str());
        std::printf("\n");
    }
    if (differences.empty()) {
        std::printf("Every entry arrived unchanged: type, mode, owner, size, contents, time, links.\n");
        return 0;
    }
    std::printf("%zu differences:\n", differences.size());
    for (const std::string& line : differences) std::printf("  %s\n", line.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--compare") return compare(argv[2], argv[3]);
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: zuva-manifest ROOT\n       zuva-manifest --compare EXPECTED ACTUAL\n");
        return 2;
    }
    struct stat st;
    if (stat(argv[1], &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "zuva-manifest: %s is not a directory\n", argv[1]);
        return 2;
    }
    std::string text = zuva::manifest::manifest_text(zuva::manifest::walk_tree(argv[1]));
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
