// A whole installation's target compared with the sample tree it was copied from, entry by
// entry, whichever way the target's manifest was taken (sandbox or virtual machine).
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tools/tree_manifest.h"

namespace zuva::test {

using manifest::compare_trees;
using manifest::TreeManifest;

// What `cp -ra /vdr/* /drive/` leaves out by its nature: the shell's wildcard skips the
// names that start with a dot at the image's top level.
inline std::set<std::string> top_level_dot_names(const TreeManifest& tree) {
    std::set<std::string> names;
    for (const auto& [path, entry] : tree)
        if (path[0] == '.' && path.find('/') == std::string::npos) names.insert(path);
    return names;
}

// Checks that the target holds the tree but for its top-level dot names, plus lost+found;
// the number of entries compared.
inline std::size_t expect_installed_tree(const TreeManifest& tree, const TreeManifest& target) {
    std::set<std::string> skipped = top_level_dot_names(tree);
    // mke2fs makes lost+found on the target and puts one into the image as well.
    std::vector<std::string> differences = compare_trees(tree, target, skipped, {"lost+found"});
    std::string listed;
    for (const std::string& d : differences) listed += "  " + d + "\n";
    EXPECT_TRUE(differences.empty()) << differences.size() << " differences:\n" << listed;
    EXPECT_TRUE(skipped.count(".zuva-release")) << "the sample tree lost its top-level dot file";
    for (const std::string& name : skipped) EXPECT_FALSE(target.count(name)) << name << " was copied after all";
    EXPECT_TRUE(target.count("lost+found") && target.at("lost+found").type == 'd') << "no lost+found on the target";
    return tree.size() - skipped.size();
}

}  // namespace zuva::test
