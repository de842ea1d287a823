#include "platform/linux/LinuxPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace {

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Wildcard match of "*" and "?" without regard to ASCII case, with one
/// back-tracking point, so it runs in linear steps per star.
bool MatchMask(const char* name, const char* mask)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask == '?' || (*mask != '\0' && FoldAscii(*mask) == FoldAscii(*name))) {
            ++mask;
            ++name;
        } else if (star != nullptr) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == '\0';
}

} // namespace

void TLinuxPlatform::FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                               bool recursive, bool clear)
{
    list.BeginUpdate();
    if (clear)
        list.Clear();
    if (!folder.empty()) {
        std::string root = folder;
        if (root.back() != '/')
            root += '/';
        SearchTree(root, mask, list, recursive);
    }
    list.EndUpdate();
}

void TLinuxPlatform::SearchTree(const std::string& root, const std::string& mask, TStringList& list,
                                bool recursive)
{
    // Depth first without recursion, so a deep tree cannot exhaust the stack;
    // sub-folders are pushed in reverse so they are visited in directory order.
    std::vector<std::string> pending{root};
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<std::string> folders;
    while (!pending.empty()) {
        const std::string p = std::move(pending.back());
        pending.pop_back();
        DIR* dir = ::opendir(p.c_str());
        if (dir == nullptr)
            continue;
        struct stat self;
        // A folder mounted into itself would otherwise be searched for ever.
        if (::fstat(::dirfd(dir), &self) != 0 || !visited.emplace(self.st_dev, self.st_ino).second) {
            ::closedir(dir);
            continue;
        }
        folders.clear();
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(st.st_mode)   ? DT_DIR
                       : S_ISLNK(st.st_mode) ? DT_LNK
                       : S_ISREG(st.st_mode) ? DT_REG
                                             : 0;
            }
            if (type == DT_DIR) {
                if (recursive)
                    folders.push_back(p + name + '/');
                continue;
            }
            if (!MatchMask(name, mask.c_str()))
                continue;
            if (type == DT_LNK) {
                // Only links to plain files count; links to folders are neither listed nor entered.
                struct stat st;
                if (::fstatat(::dirfd(dir), name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                    continue;
            } else if (type != DT_REG) {
                // Pipes and devices are no photos and would block a copy.
                continue;
            }
            list.Add(p + name);
        }
        ::closedir(dir);
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            pending.push_back(std::move(*it));
    }
}
