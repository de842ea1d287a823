#include "platform/linux/LinuxPlatform.h"

#include <cerrno>
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
                               bool recursive, bool clear, std::vector<TResult>* unreadable)
{
    list.BeginUpdate();
    if (clear)
        list.Clear();
    if (!folder.empty()) {
        // Without trailing separators, so that a link named by the last
        // component is seen as a link and not followed.
        std::string root = folder;
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        SearchTree(root, mask, list, recursive, unreadable);
    }
    list.EndUpdate();
}

void TLinuxPlatform::SearchTree(const std::string& root, const std::string& mask, TStringList& list,
                                bool recursive, std::vector<TResult>* unreadable)
{
    const auto failed = [unreadable](const std::string& path, int error) {
        if (unreadable != nullptr)
            unreadable->push_back(OsFailure(path, error));
    };
    // A folder still to be searched: its path (ending in "/") and the identity
    // it had when its parent was read. It is opened by its path later, so the
    // identity shows whether a component was exchanged for a link meanwhile.
    struct TPending
    {
        std::string Path;
        dev_t Device = 0;
        ino_t Inode = 0;
    };
    // The folder itself must not be a link either.
    struct stat rootInfo;
    if (::lstat(root.c_str(), &rootInfo) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            failed(root, errno);
        return;
    }
    if (!S_ISDIR(rootInfo.st_mode))
        return;
    // Everything listed lies on the searched folder's own file system.
    const dev_t device = rootInfo.st_dev;

    // Depth first without recursion, so a deep tree cannot exhaust the stack;
    // sub-folders are pushed in reverse so they are visited in directory order.
    std::vector<TPending> pending{{root == "/" ? root : root + '/', rootInfo.st_dev, rootInfo.st_ino}};
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<TPending> folders;
    while (!pending.empty()) {
        const TPending p = std::move(pending.back());
        pending.pop_back();
        const std::string path = p.Path.size() > 1 ? p.Path.substr(0, p.Path.size() - 1) : p.Path;
        TFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat self;
        if (!fd.Valid() || ::fstat(fd.Get(), &self) != 0) {
            failed(path, errno);
            continue;
        }
        // Exchanged for something else since its parent was read: not the card's own folder.
        if (self.st_dev != p.Device || self.st_ino != p.Inode)
            continue;
        // A folder bound into itself would otherwise be searched for ever.
        if (!visited.emplace(self.st_dev, self.st_ino).second)
            continue;
        DIR* dir = ::fdopendir(fd.Get());
        if (dir == nullptr) {
            failed(path, errno);
            continue;
        }
        fd.Release(); // the stream owns it now
        folders.clear();
        // readdir tells the end of the folder and a failure apart only by errno.
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                if (errno != 0)
                    failed(path, errno);
                break;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            // Links, pipes and devices are no photos of the card; folders are
            // entered when recursive; files are listed when their name matches.
            const unsigned char type = entry->d_type;
            if (type == DT_DIR) {
                if (!recursive)
                    continue;
            } else if (type == DT_REG) {
                if (!MatchMask(name, mask.c_str()))
                    continue;
            } else if (type != DT_UNKNOWN) {
                continue;
            }
            // The entry's own identity, never what a link points to. A volume
            // mounted on a folder or file of the card shows another device.
            struct stat st;
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                failed(p.Path + name, errno);
                continue;
            }
            if (st.st_dev != device)
                continue;
            if (S_ISDIR(st.st_mode)) {
                if (recursive)
                    folders.push_back({p.Path + name + '/', st.st_dev, st.st_ino});
            } else if (S_ISREG(st.st_mode) && (type == DT_REG || MatchMask(name, mask.c_str()))) {
                list.Add(p.Path + name);
            }
        }
        ::closedir(dir);
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            pending.push_back(std::move(*it));
    }
}
