#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <set>
#include <sstream>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr char kFirstLetter = 'E';
constexpr char kLastLetter = 'Z';
constexpr size_t kLetterCount = kLastLetter - kFirstLetter + 1;
constexpr size_t kCopyChunk = size_t{8} << 20;
constexpr size_t kCompareChunk = size_t{1} << 20;

/// A file descriptor closed when it goes out of scope.
class TFd
{
public:
    explicit TFd(int fd = -1)
        : FFd(fd)
    {
    }
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset(int fd)
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }

private:
    int FFd;
};

/// Removes a temporary file unless the caller keeps it.
class TTempFile
{
public:
    TTempFile() = default;
    ~TTempFile()
    {
        if (!FName.empty())
            ::unlink(FName.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const { return FName; }
    void Set(std::string name) { FName = std::move(name); }
    void Keep() { FName.clear(); }

private:
    std::string FName;
};

/// A photo's data on its way into a temporary file beside its target. It
/// stands in its platform's list of unfinished copies while it lives.
class TLinuxStagedCopy : public TStagedCopy
{
public:
    explicit TLinuxStagedCopy(std::set<TLinuxStagedCopy*>& unfinished)
        : FUnfinished(unfinished)
    {
        FUnfinished.insert(this);
    }
    ~TLinuxStagedCopy() override { FUnfinished.erase(this); }
    TLinuxStagedCopy(const TLinuxStagedCopy&) = delete;
    TLinuxStagedCopy& operator=(const TLinuxStagedCopy&) = delete;

    bool GroupFlushed = false;
    dev_t Device = 0;
    TFd In;
    TFd Out;
    TTempFile Temp;
    std::string Dst;
    std::string Folder;
    off_t Size = 0;

private:
    std::set<TLinuxStagedCopy*>& FUnfinished;
};

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

/// Undoes the octal escapes (\040 for a blank and so on) of /proc mount tables.
std::string UnescapeMountField(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1];
            const char b = field[i + 2];
            const char c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

/// Volumes of removable media are mounted below these folders.
bool IsVolumeMountPoint(const std::string& mountPoint)
{
    static const char* const kParents[] = {"/media/", "/run/media/", "/mnt/"};
    for (const char* parent : kParents) {
        const size_t n = std::strlen(parent);
        if (mountPoint.size() > n && mountPoint.compare(0, n, parent) == 0)
            return true;
    }
    return false;
}

std::string ParentFolder(const std::string& path)
{
    const size_t at = path.find_last_of('/');
    if (at == std::string::npos)
        return ".";
    if (at == 0)
        return "/";
    return path.substr(0, at);
}

bool SyncFolder(const std::string& folder)
{
    TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.Valid() && ::fsync(dir.Get()) == 0;
}

bool WriteAll(int fd, const char* data, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

/// Reads up to count bytes at offset; fewer only at the end of the file.
ssize_t ReadAt(int fd, char* data, size_t count, off_t offset)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, data + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

class TLinuxPlatform : public TPlatform
{
public:
    explicit TLinuxPlatform(const TPlatformOptions& options)
        : FOptions(options)
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        FFileMode = static_cast<mode_t>(0666 & ~mask);
    }

    void RefreshDrives() override;
    bool DriveIsReady(char letter) override;
    std::string DriveRoot(char letter) override;
    bool DirectoryExists(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool CreateDir(const std::string& path) override;
    bool ForceDirectories(const std::string& path) override;
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear) override;
    bool CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    std::unique_ptr<TStagedCopy> StageCopy(const std::string& src, const std::string& dst) override;
    bool FinishCopy(TStagedCopy& copy) override;
    bool MovePhoto(const std::string& src, const std::string& dst) override;
    bool FlushFolders() override;
    std::string DocumentsFolder() override;
    bool FileModifiedDate(const std::string& path, TLocalDate& date) override;
    char PathDelim() const override { return '/'; }

private:
    enum class TRename
    {
        Done,
        Unsupported,
        Failed
    };

    void SearchTree(const std::string& root, const std::string& mask, TStringList& list, bool recursive);
    std::unique_ptr<TLinuxStagedCopy> Stage(const std::string& src, const std::string& dst);
    bool Finish(TLinuxStagedCopy& copy, bool verify);
    bool SafeCopy(const std::string& src, const std::string& dst, bool verify);
    bool CopyData(int in, int out);
    bool SameContent(int a, int b, off_t size);
    TRename RenameNoReplace(const std::string& from, const std::string& to);
    std::string HomeFolder() const;

    TPlatformOptions FOptions;
    mode_t FFileMode = 0644;
    bool FDrivesRead = false;
    std::vector<std::string> FDrives; // mount points for E, F, G, ...
    std::set<std::string> FPendingFolders;
    std::set<TLinuxStagedCopy*> FUnfinished;
};

void TLinuxPlatform::RefreshDrives()
{
    FDrivesRead = true;
    FDrives.clear();
    std::ifstream in(FOptions.MountInfoPath);
    std::string line;
    while (std::getline(in, line)) {
        // Fields: id, parent id, major:minor, root, mount point, ...; blanks
        // inside a field are escaped, so plain blanks separate them.
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 5 && fields; ++i)
            fields >> field;
        if (!fields)
            continue;
        const std::string mountPoint = UnescapeMountField(field);
        if (!IsVolumeMountPoint(mountPoint))
            continue;
        // A volume mounted over another one is the one that is seen: keep its latest place.
        FDrives.erase(std::remove(FDrives.begin(), FDrives.end(), mountPoint), FDrives.end());
        FDrives.push_back(mountPoint);
    }
    // Only 22 letters exist; the volumes mounted last keep theirs, so a card
    // attached now is still seen when many older volumes are mounted.
    if (FDrives.size() > kLetterCount)
        FDrives.erase(FDrives.begin(), FDrives.end() - static_cast<std::ptrdiff_t>(kLetterCount));
}

std::string TLinuxPlatform::DriveRoot(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < kFirstLetter || letter > kLastLetter)
        return {};
    if (!FDrivesRead)
        RefreshDrives();
    const auto index = static_cast<size_t>(letter - kFirstLetter);
    return index < FDrives.size() ? FDrives[index] : std::string();
}

bool TLinuxPlatform::DriveIsReady(char letter)
{
    const std::string root = DriveRoot(letter);
    struct statvfs info;
    return !root.empty() && ::statvfs(root.c_str(), &info) == 0;
}

bool TLinuxPlatform::DirectoryExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool TLinuxPlatform::FileExists(const std::string& path)
{
    // lstat: a dangling link still occupies the name.
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool TLinuxPlatform::CreateDir(const std::string& path)
{
    return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool TLinuxPlatform::ForceDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    if (DirectoryExists(path))
        return true;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string parent = ParentFolder(trimmed);
    if (parent != trimmed && !ForceDirectories(parent))
        return false;
    return ::mkdir(trimmed.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(trimmed));
}

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

bool TLinuxPlatform::CopyData(int in, int out)
{
    const int64_t limit = FOptions.FailCopyAfterBytes;
    int64_t written = 0;
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        size_t chunk = kCopyChunk;
        if (limit >= 0) {
            if (written >= limit)
                return false;
            chunk = std::min(chunk, static_cast<size_t>(limit - written));
        }
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                          errno == EBADF || errno == EPERM)) {
                kernelCopy = false;
                n = -2;
            }
        }
        if (!kernelCopy) {
            if (buffer.empty())
                buffer.resize(kCopyChunk);
            n = ::read(in, buffer.data(), std::min(chunk, buffer.size()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n > 0 && !WriteAll(out, buffer.data(), static_cast<size_t>(n)))
                return false;
        }
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        written += n;
    }
}

bool TLinuxPlatform::SameContent(int a, int b, off_t size)
{
    if (FOptions.CorruptReadBack)
        return false;
    struct stat st;
    if (::fstat(b, &st) != 0 || st.st_size != size)
        return false;
    // The copy is flushed: dropping it from the cache makes the read-back come from the disk.
    ::posix_fadvise(b, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> left(kCompareChunk);
    std::vector<char> right(kCompareChunk);
    off_t offset = 0;
    for (;;) {
        const ssize_t na = ReadAt(a, left.data(), left.size(), offset);
        const ssize_t nb = ReadAt(b, right.data(), right.size(), offset);
        if (na < 0 || nb < 0 || na != nb)
            return false;
        if (na == 0)
            return offset == size;
        if (std::memcmp(left.data(), right.data(), static_cast<size_t>(na)) != 0)
            return false;
        offset += na;
    }
}

TLinuxPlatform::TRename TLinuxPlatform::RenameNoReplace(const std::string& from, const std::string& to)
{
    if (!FOptions.NoRenameNoReplace) {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return TRename::Done;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return TRename::Failed;
    }
    return TRename::Unsupported;
}

std::unique_ptr<TLinuxStagedCopy> TLinuxPlatform::Stage(const std::string& src, const std::string& dst)
{
    auto copy = std::make_unique<TLinuxStagedCopy>(FUnfinished);
    copy->In.Reset(::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (!copy->In.Valid() || ::fstat(copy->In.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    copy->Size = st.st_size;
    copy->Dst = dst;
    copy->Folder = ParentFolder(dst);
    std::string pattern = copy->Folder + "/.fotoimport-XXXXXX";
    copy->Out.Reset(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!copy->Out.Valid())
        return nullptr;
    copy->Temp.Set(pattern);
    struct stat target;
    if (::fstat(copy->Out.Get(), &target) != 0)
        return nullptr;
    copy->Device = target.st_dev;
    if (!CopyData(copy->In.Get(), copy->Out.Get()))
        return nullptr;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::fchmod(copy->Out.Get(), FFileMode) != 0 || ::futimens(copy->Out.Get(), times) != 0)
        return nullptr;
    // The disk may start on it now, while the next photos are staged.
    ::sync_file_range(copy->Out.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    return copy;
}

bool TLinuxPlatform::Finish(TLinuxStagedCopy& copy, bool verify)
{
    // One flush of the whole file system writes the data of every copy staged
    // on it so far and commits it in one go, as a sync would, and reports any
    // error of writing them. Only when it fails is each file flushed on its
    // own, to learn which one is bad. A move flushes just its own file.
    if (!verify && !copy.GroupFlushed && ::syncfs(copy.Out.Get()) == 0) {
        for (TLinuxStagedCopy* staged : FUnfinished) {
            if (staged->Device == copy.Device)
                staged->GroupFlushed = true;
        }
    }
    if (!copy.GroupFlushed && ::fsync(copy.Out.Get()) != 0)
        return false;
    if (verify && !SameContent(copy.In.Get(), copy.Out.Get(), copy.Size))
        return false;
    switch (RenameNoReplace(copy.Temp.Name(), copy.Dst)) {
    case TRename::Done:
        copy.Temp.Keep();
        break;
    case TRename::Unsupported:
        // A second name that cannot replace anything; the temporary name goes with the copy.
        if (::link(copy.Temp.Name().c_str(), copy.Dst.c_str()) != 0)
            return false;
        break;
    case TRename::Failed:
        return false;
    }
    if (!verify) {
        // The data is on the disk; the folder entries of a run of copies are
        // flushed together by FlushFolders.
        FPendingFolders.insert(copy.Folder);
        return true;
    }
    if (!SyncFolder(copy.Folder)) {
        // The new name may not survive a power cut: take back what this call made.
        ::unlink(copy.Dst.c_str());
        return false;
    }
    return true;
}

bool TLinuxPlatform::SafeCopy(const std::string& src, const std::string& dst, bool verify)
{
    const auto copy = Stage(src, dst);
    return copy != nullptr && Finish(*copy, verify);
}

std::unique_ptr<TStagedCopy> TLinuxPlatform::StageCopy(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty())
        return nullptr;
    return Stage(src, dst);
}

bool TLinuxPlatform::FinishCopy(TStagedCopy& copy)
{
    auto* staged = dynamic_cast<TLinuxStagedCopy*>(&copy);
    return staged != nullptr && Finish(*staged, false);
}

bool TLinuxPlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    return !src.empty() && !dst.empty() && SafeCopy(src, dst, false);
}

bool TLinuxPlatform::MovePhoto(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty())
        return false;
    bool sameVolume = !FOptions.ForceCrossDeviceMove;
    if (sameVolume) {
        switch (RenameNoReplace(src, dst)) {
        case TRename::Done:
            SyncFolder(ParentFolder(src));
            return SyncFolder(ParentFolder(dst));
        case TRename::Failed:
            if (errno != EXDEV)
                return false;
            sameVolume = false;
            break;
        case TRename::Unsupported:
            if (::link(src.c_str(), dst.c_str()) == 0) {
                if (::unlink(src.c_str()) != 0) {
                    ::unlink(dst.c_str());
                    return false;
                }
                SyncFolder(ParentFolder(src));
                return SyncFolder(ParentFolder(dst));
            }
            if (errno != EXDEV && errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
                return false;
            sameVolume = false;
            break;
        }
    }
    if (!SafeCopy(src, dst, true))
        return false;
    if (::unlink(src.c_str()) != 0) {
        // The card refuses to let go of the photo: undo the copy, so the photo
        // is either moved or untouched.
        ::unlink(dst.c_str());
        return false;
    }
    SyncFolder(ParentFolder(src));
    return true;
}

bool TLinuxPlatform::FlushFolders()
{
    // One flush per file system commits the new entries of all its folders.
    bool ok = !FOptions.FailFolderFlush;
    std::set<dev_t> flushed;
    for (const std::string& folder : FPendingFolders) {
        TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (!dir.Valid() || ::fstat(dir.Get(), &st) != 0) {
            ok = false;
            continue;
        }
        if (flushed.insert(st.st_dev).second && ::syncfs(dir.Get()) != 0)
            ok = false;
    }
    FPendingFolders.clear();
    return ok;
}

std::string TLinuxPlatform::HomeFolder() const
{
    if (!FOptions.HomeFolder.empty())
        return FOptions.HomeFolder;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return {};
}

std::string TLinuxPlatform::DocumentsFolder()
{
    const std::string home = HomeFolder();
    std::string config = FOptions.ConfigFolder;
    if (config.empty()) {
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
            config = xdg;
        else if (!home.empty())
            config = home + "/.config";
    }
    std::string result;
    if (!config.empty()) {
        std::ifstream in(config + "/user-dirs.dirs");
        std::string line;
        const std::string key = "XDG_DOCUMENTS_DIR=";
        while (std::getline(in, line)) {
            const size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
                continue;
            std::string value = line.substr(start + key.size());
            if (value.size() < 2 || value.front() != '"')
                continue;
            const size_t close = value.rfind('"');
            if (close == 0)
                continue;
            std::string raw;
            for (size_t i = 1; i < close; ++i) {
                if (value[i] == '\\' && i + 1 < close)
                    ++i;
                raw += value[i];
            }
            if (raw.compare(0, 5, "$HOME") == 0 && (raw.size() == 5 || raw[5] == '/')) {
                if (home.empty())
                    continue;
                result = home + raw.substr(5);
            } else if (!raw.empty() && raw[0] == '/') {
                result = raw;
            }
        }
    }
    if (result.empty() && !home.empty())
        result = home + "/Documents";
    while (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

bool TLinuxPlatform::FileModifiedDate(const std::string& path, TLocalDate& date)
{
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return false;
    std::tm local{};
    const time_t t = st.st_mtime;
    if (::localtime_r(&t, &local) == nullptr)
        return false;
    date.Year = local.tm_year + 1900;
    date.Month = local.tm_mon + 1;
    date.Day = local.tm_mday;
    return true;
}

} // namespace

std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options)
{
    return std::make_unique<TLinuxPlatform>(options);
}
