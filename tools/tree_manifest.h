// What a directory tree holds, entry by entry, as a copy must keep it: the tree the ZUVA disk
// image is made from and the target the installer copied it to are walked with lstat and
// compared field by field. Shared by the tests, the live system and the try command
// (tools/zuva_manifest.cpp).
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zuva::manifest {

struct TreeEntry {
    char type = '?';  // f d l c b p s
    unsigned mode = 0;  // permission and set-id/sticky bits
    unsigned uid = 0;
    unsigned gid = 0;
    long long size = 0;  // regular files and links only: a directory's size is its file system's
    long long mtime_sec = 0;
    long long mtime_nsec = 0;
    unsigned rdev_major = 0;
    unsigned rdev_minor = 0;
    std::string link_target;
    std::uint64_t content_hash = 0;  // FNV-1a of a regular file's bytes
    std::string hard_link_group;     // first path of the group when the inode has other names
    bool content_read = true;
};

using TreeManifest = std::map<std::string, TreeEntry>;

inline char entry_type(mode_t mode) {
    if (S_ISREG(mode)) return 'f';
    if (S_ISDIR(mode)) return 'd';
    if (S_ISLNK(mode)) return 'l';
    if (S_ISCHR(mode)) return 'c';
    if (S_ISBLK(mode)) return 'b';
    if (S_ISFIFO(mode)) return 'p';
    if (S_ISSOCK(mode)) return 's';
    return '?';
}

inline bool hash_file(int dir_fd, const char* name, std::uint64_t& hash) {
    int fd = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    hash = 14695981039346656037ull;
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < got; ++i) hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
    close(fd);
    return got == 0;
}

namespace detail {

struct InodeKey {
    dev_t dev;
    ino_t ino;
    bool operator<(const InodeKey& other) const {
        return dev != other.dev ? dev < other.dev : ino < other.ino;
    }
};

inline void walk(int dir_fd, const std::string& prefix, TreeManifest& manifest,
                 std::map<InodeKey, std::vector<std::string>>& links) {
    DIR* dir = fdopendir(dir_fd);
    if (!dir) {
        close(dir_fd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat st;
        if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        std::string path = prefix.empty() ? name : prefix + "/" + name;
        TreeEntry entry;
        entry.type = entry_type(st.st_mode);
        entry.mode = st.st_mode & 07777;
        entry.uid = st.st_uid;
        entry.gid = st.st_gid;
        entry.mtime_sec = st.st_mtim.tv_sec;
        entry.mtime_nsec = st.st_mtim.tv_nsec;
        if (entry.type == 'c' || entry.type == 'b') {
            entry.rdev_major = major(st.st_rdev);
            entry.rdev_minor = minor(st.st_rdev);
        }
        if (entry.type == 'f' || entry.type == 'l') entry.size = st.st_size;
        if (entry.type == 'f') entry.content_read = hash_file(dirfd(dir), name.c_str(), entry.content_hash);
        if (entry.type == 'l') {
            std::vector<char> target(st.st_size + 1);
            ssize_t got = readlinkat(dirfd(dir), name.c_str(), target.data(), target.size());
            if (got >= 0) entry.link_target.assign(target.data(), got);
        }
        if (entry.type != 'd' && st.st_nlink > 1) links[{st.st_dev, st.st_ino}].push_back(path);
        manifest[path] = entry;
        if (entry.type == 'd') {
            int child = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) walk(child, path, manifest, links);
        }
    }
    closedir(dir);
}

inline std::string escape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += static_cast<char>(c);
    }
    return out;
}

inline std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == 't' ? '\t' : next == 'n' ? '\n' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace detail

// Every entry below root (root itself left out), paths relative to it; a symbolic link is
// never followed. Hard links are grouped by inode among the entries walked.
inline TreeManifest walk_tree(const std::string& root) {
    TreeManifest manifest;
    std::map<detail::InodeKey, std::vector<std::string>> links;
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return manifest;
    detail::walk(fd, "", manifest, links);
    for (auto& [inode, paths] : links) {
        std::sort(paths.begin(), paths.end());
        if (paths.size() < 2) continue;
        for (const std::string& path : paths) manifest[path].hard_link_group = paths.front();
    }
    return manifest;
}

// One line per entry, tab-separated; path, link target and group escaped.
inline std::string manifest_text(const TreeManifest& manifest) {
    std::string text;
    char numbers[256];
    for (const auto& [path, e] : manifest) {
        std::snprintf(numbers, sizeof numbers, "%c\t%o\t%u\t%u\t%lld\t%lld\t%lld\t%u\t%u\t%016llx\t%d",
                      e.type, e.mode, e.uid, e.gid, e.size, e.mtime_sec, e.mtime_nsec, e.rdev_major,
                      e.rdev_minor, static_cast<unsigned long long>(e.content_hash), e.content_read ? 1 : 0);
        text += detail::escape(path) + "\t" + numbers + "\t" + detail::escape(e.link_target) + "\t" +
                detail::escape(e.hard_link_group) + "\n";
    }
    return text;
}

inline TreeManifest parse_manifest(const std::string& text) {
    TreeManifest manifest;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> fields;
        std::size_t field_start = start;
        for (std::size_t i = start; i <= end; ++i) {
            if (i == end || text[i] == '\t') {
                fields.push_back(text.substr(field_start, i - field_start));
                field_start = i + 1;
            }
        }
        start = end + 1;
        if (fields.size() != 14) continue;
        TreeEntry e;
        e.type = fields[1].empty() ? '?' : fields[1][0];
        e.mode = std::stoul(fields[2], nullptr, 8);
        e.uid = std::stoul(fields[3]);
        e.gid = std::stoul(fields[4]);
        e.size = std::stoll(fields[5]);
        e.mtime_sec = std::stoll(fields[6]);
        e.mtime_nsec = std::stoll(fields[7]);
        e.rdev_major = std::stoul(fields[8]);
        e.rdev_minor = std::stoul(fields[9]);
        e.content_hash = std::stoull(fields[10], nullptr, 16);
        e.content_read = fields[11] == "1";
        e.link_target = detail::unescape(fields[12]);
        e.hard_link_group = detail::unescape(fields[13]);
        manifest[detail::unescape(fields[0])] = e;
    }
    return manifest;
}

// What differs between two trees, one readable line per difference. Paths in `may_be_missing`
// (and everything below them) may be absent from the copy, paths in `may_be_extra` may be
// present in the copy only.
inline std::vector<std::string> compare_trees(const TreeManifest& expected, const TreeManifest& actual,
                                              const std::set<std::string>& may_be_missing = {},
                                              const std::set<std::string>& may_be_extra = {}) {
    auto listed = [](const std::set<std::string>& set, const std::string& path) {
        for (const std::string& top : set)
            if (path == top || path.rfind(top + "/", 0) == 0) return true;
        return false;
    };
    std::vector<std::string> differences;
    auto differ = [&](const std::string& path, const char* what, const std::string& want, const std::string& got) {
        differences.push_back(path + ": " + what + " " + want + " became " + got);
    };
    for (const auto& [path, want] : expected) {
        auto found = actual.find(path);
        if (found == actual.end()) {
            if (!listed(may_be_missing, path)) differences.push_back(path + ": missing");
            continue;
        }
        const TreeEntry& got = found->second;
        if (want.type != got.type) {
            differ(path, "type", std::string(1, want.type), std::string(1, got.type));
            continue;
        }
        auto octal = [](unsigned v) {
            char text[16];
            std::snprintf(text, sizeof text, "%04o", v);
            return std::string(text);
        };
        if (want.mode != got.mode) differ(path, "mode", octal(want.mode), octal(got.mode));
        if (want.uid != got.uid || want.gid != got.gid)
            differ(path, "owner", std::to_string(want.uid) + ":" + std::to_string(want.gid),
                   std::to_string(got.uid) + ":" + std::to_string(got.gid));
        if (want.size != got.size) differ(path, "size", std::to_string(want.size), std::to_string(got.size));
        if (!want.content_read || !got.content_read) differences.push_back(path + ": content could not be read");
        else if (want.content_hash != got.content_hash) differences.push_back(path + ": content differs");
        if (want.mtime_sec != got.mtime_sec || want.mtime_nsec != got.mtime_nsec)
            differ(path, "modification time", std::to_string(want.mtime_sec) + "." + std::to_string(want.mtime_nsec),
                   std::to_string(got.mtime_sec) + "." + std::to_string(got.mtime_nsec));
        if (want.rdev_major != got.rdev_major || want.rdev_minor != got.rdev_minor)
            differ(path, "device", std::to_string(want.rdev_major) + "," + std::to_string(want.rdev_minor),
                   std::to_string(got.rdev_major) + "," + std::to_string(got.rdev_minor));
        if (want.link_target != got.link_target) differ(path, "link target", want.link_target, got.link_target);
        if (want.hard_link_group != got.hard_link_group)
            differ(path, "hard-link group", "[" + want.hard_link_group + "]", "[" + got.hard_link_group + "]");
    }
    for (const auto& [path, got] : actual)
        if (!expected.count(path) && !listed(may_be_extra, path)) differences.push_back(path + ": not in the original");
    return differences;
}

}  // namespace zuva::manifest
