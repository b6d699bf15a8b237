// The tree comparison that judges an installation: it must notice every kind of loss.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/terminal.h"
#include "tools/tree_manifest.h"

using zuva::test::TempDir;
using zuva::manifest::TreeManifest;

namespace {

void set_mtime(const std::string& path, long seconds, long nanoseconds = 0) {
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A small tree with one of each thing a copy could get wrong.
void make_tree(const TempDir& dir) {
    zuva::test::write_file(dir.file("plain"), "hello\n");
    zuva::test::write_file(dir.file("odd mode \xe9"), "x", 0640);
    ASSERT_EQ(chmod(dir.file("odd mode \xe9").c_str(), 04711), 0);
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0750), 0);
    zuva::test::write_file(dir.file("sub/inner"), std::string(10000, 'z'));
    ASSERT_EQ(link(dir.file("sub/inner").c_str(), dir.file("twin").c_str()), 0);
    ASSERT_EQ(symlink("../plain", dir.file("sub/link").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    set_mtime(dir.file("plain"), 766324800, 123456789);
    set_mtime(dir.file("sub/link"), 86400);
    set_mtime(dir.file("sub"), 946684799);
}

TreeManifest copy_of(const TempDir& from, const TempDir& to) {
    std::string command = "cp -a " + from.path + "/. " + to.path + "/";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return zuva::manifest::walk_tree(to.path);
}

TEST(TreeManifest, AFaithfulCopyHasNoDifferencesAndSurvivesTheManifestText) {
    TempDir original, copy;
    make_tree(original);
    TreeManifest tree = zuva::manifest::walk_tree(original.path);
    EXPECT_EQ(tree.size(), 7u);
    EXPECT_EQ(tree.at("twin").hard_link_group, "sub/inner");
    EXPECT_EQ(tree.at("sub/inner").hard_link_group, "sub/inner");
    EXPECT_EQ(tree.at("sub/link").link_target, "../plain");
    EXPECT_EQ(tree.at("plain").mtime_nsec, 123456789);
    EXPECT_EQ(tree.at("pipe").type, 'p');

    TreeManifest copied = copy_of(original, copy);
    EXPECT_TRUE(zuva::manifest::compare_trees(tree, copied).empty());
    // Through the text the sandbox hands back, names with odd bytes included.
    TreeManifest reread = zuva::manifest::parse_manifest(zuva::manifest::manifest_text(copied));
    std::vector<std::string> differences = zuva::manifest::compare_trees(tree, reread);
    EXPECT_TRUE(differences.empty()) << differences.size() << " first: " << differences.front();
}

TEST(TreeManifest, EachKindOfLossIsReported) {
    TempDir original, copy;
    make_tree(original);
    TreeManifest tree = zuva::manifest::walk_tree(original.path);
    copy_of(original, copy);

    // Content changed but size and time kept, a mode bit lost, a link retargeted, a hard link
    // broken, a time rounded to the second, a file gone, a file added.
    zuva::test::write_file(copy.file("plain"), "HELLO\n");
    set_mtime(copy.file("plain"), 766324800, 123456789);
    ASSERT_EQ(chmod(copy.file("odd mode \xe9").c_str(), 0711), 0);
    ASSERT_EQ(unlink(copy.file("sub/link").c_str()), 0);
    ASSERT_EQ(symlink("/plain", copy.file("sub/link").c_str()), 0);
    set_mtime(copy.file("sub/link"), 86400);
    ASSERT_EQ(unlink(copy.file("twin").c_str()), 0);
    zuva::test::write_file(copy.file("twin"), std::string(10000, 'z'));
    ASSERT_EQ(unlink(copy.file("pipe").c_str()), 0);
    zuva::test::write_file(copy.file("extra"), "");
    set_mtime(copy.file("sub"), 946684799);

    std::vector<std::string> differences = zuva::manifest::compare_trees(tree, zuva::manifest::walk_tree(copy.path));
    std::string all;
    for (const std::string& d : differences) all += d + "\n";
    // The changes made, and the twin's new time and its partner's lone inode.
    for (const char* said : {"plain: content differs", "odd mode \xe9: mode 4711 became 0711",
                             "sub/link: link target ../plain became /plain", "twin: hard-link group [sub/inner] became []",
                             "pipe: missing", "extra: not in the original", "sub/inner: hard-link group [sub/inner] became []",
                             "twin: modification time", "sub/link: size 8 became 6"})
        EXPECT_NE(all.find(said), std::string::npos) << said << " not in:\n" << all;
    EXPECT_EQ(differences.size(), 9u) << all;

    // What is allowed to be missing or extra is not reported, nor what lies below it.
    EXPECT_EQ(zuva::manifest::compare_trees(tree, zuva::manifest::walk_tree(original.path), {"sub"}, {}).size(), 0u);
    TreeManifest without_sub = tree;
    without_sub.erase("sub");
    without_sub.erase("sub/inner");
    without_sub.erase("sub/link");
    EXPECT_TRUE(zuva::manifest::compare_trees(tree, without_sub, {"sub"}, {}).empty());
    EXPECT_EQ(zuva::manifest::compare_trees(tree, without_sub).size(), 3u);
    EXPECT_TRUE(zuva::manifest::compare_trees(without_sub, tree, {}, {"sub"}).empty());
}

}  // namespace
