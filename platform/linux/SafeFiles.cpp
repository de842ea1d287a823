#include "platform/SafeNames.h"
#include "platform/linux/LinuxPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kCopyChunk = size_t{8} << 20;
constexpr size_t kCompareChunk = size_t{1} << 20;
/// The statfs type of FUSE file systems. A syncfs does not reach their servers: each file is flushed.
constexpr decltype(statfs::f_type) kFuseMagic = 0x65735546;

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

/// Errors that say the target is full, rather than that the source failed.
bool IsTargetError(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

/// Copies the rest of in to out: through the kernel where it can, else
/// through a buffer. A failure names src or dst, whichever side failed.
TResult CopyData(int in, int out, const std::string& src, const std::string& dst)
{
    bool kernelCopy = true;
    std::vector<char> buffer;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return {};
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error != EXDEV && error != EINVAL && error != ENOSYS && error != EOPNOTSUPP &&
                error != EBADF && error != EPERM)
                return OsFailure(IsTargetError(error) ? dst : src, error);
            kernelCopy = false;
        }
        if (buffer.empty())
            buffer.resize(kCopyChunk);
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return OsFailure(src, errno);
        if (n == 0)
            return {};
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n)))
            return OsFailure(dst, errno);
    }
}

/// Drops the file's pages from memory, so that the next read comes from its file system: the disk, or a
/// FUSE file system's server. Pages not yet written stay; callers flush first.
void DropCachedPages(int fd)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
}

/// Whether the open files a and b hold the same bytes, read from offset 0 to
/// their ends. A read that fails names its path.
TResult CompareContent(int a, int b, const std::string& pathA, const std::string& pathB, bool& same)
{
    std::vector<char> left(kCompareChunk);
    std::vector<char> right(kCompareChunk);
    off_t offset = 0;
    for (;;) {
        const ssize_t na = ReadAt(a, left.data(), left.size(), offset);
        if (na < 0)
            return OsFailure(pathA, errno);
        const ssize_t nb = ReadAt(b, right.data(), right.size(), offset);
        if (nb < 0)
            return OsFailure(pathB, errno);
        if (na != nb || std::memcmp(left.data(), right.data(), static_cast<size_t>(na)) != 0) {
            same = false;
            return {};
        }
        if (na == 0) {
            same = true;
            return {};
        }
        offset += na;
    }
}

/// Compares the flushed copy b with the original a, both read again from
/// their file systems: the cached pages of both are dropped first, so a byte
/// that a flaky reader delivered wrongly into the copy cannot also be the
/// byte compared, and a byte the target disk stored wrongly is seen as
/// stored. Every copy goes through here before it gets its name.
TResult SameContent(int a, int b, off_t size, const std::string& src, const std::string& dst)
{
    struct stat st;
    if (::fstat(b, &st) != 0)
        return OsFailure(dst, errno);
    if (st.st_size != size)
        return TResult::Fail(TFailure::Mismatch, dst, "the copy has a different size");
    DropCachedPages(a);
    DropCachedPages(b);
    bool same = false;
    if (TResult read = CompareContent(a, b, src, dst, same); !read)
        return read;
    if (!same)
        return TResult::Fail(TFailure::Mismatch, src, "the copy read back differs from the original");
    if (::fstat(a, &st) != 0)
        return OsFailure(src, errno);
    return st.st_size == size ? TResult()
                              : TResult::Fail(TFailure::Mismatch, src, "the original changed its size");
}

/// Whether the flushed file fd holds exactly the pieces, one after the
/// other, read back from its file system (its cached pages dropped first).
TResult SameAsPieces(int fd, std::span<const TDataPiece> pieces, const std::string& path, bool& same)
{
    DropCachedPages(fd);
    std::vector<char> buffer(kCompareChunk);
    off_t offset = 0;
    same = false;
    for (const TDataPiece& piece : pieces) {
        const char* expected = static_cast<const char*>(piece.Data);
        for (size_t done = 0; done < piece.Size;) {
            const size_t count = std::min(buffer.size(), piece.Size - done);
            const ssize_t n = ReadAt(fd, buffer.data(), count, offset);
            if (n < 0)
                return OsFailure(path, errno);
            if (static_cast<size_t>(n) != count || std::memcmp(buffer.data(), expected + done, count) != 0)
                return {};
            done += count;
            offset += n;
        }
    }
    char beyond = 0;
    const ssize_t n = ReadAt(fd, &beyond, 1, offset);
    if (n < 0)
        return OsFailure(path, errno);
    same = n == 0;
    return {};
}

enum class TRename
{
    Done,
    Unsupported, ///< the file system has no rename that refuses to replace
    Failed       ///< errno says why
};

TRename RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return TRename::Done;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return TRename::Failed;
    return TRename::Unsupported;
}

/// The failure of making path in folder, which the call that failed with
/// error found missing. A run makes its day folder before it copies into it,
/// and that fails where the nearest folder above takes no new entries (a
/// read-only file system, a folder the user may not write to): then that is
/// the reason, named with that folder. Otherwise path is missing.
TResult MissingFolderFailure(const std::string& path, const std::string& folder, int error)
{
    struct stat st;
    if (error != ENOENT || ::stat(folder.c_str(), &st) == 0)
        return OsFailure(path, error);
    for (std::string above = ParentFolder(folder);; above = ParentFolder(above)) {
        if (::stat(above.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode) && ::faccessat(AT_FDCWD, above.c_str(), W_OK, AT_EACCESS) != 0 &&
                (errno == EROFS || errno == EACCES || errno == EPERM))
                return OsFailure(above, errno);
            break;
        }
        if (errno != ENOENT || above == ParentFolder(above))
            break;
    }
    return OsFailure(path, error);
}

/// The failure of renaming or linking src to dst: a taken name is dst's, a
/// missing one whichever of the two is missing, anything else src's.
TResult NameFailure(const std::string& src, const std::string& dst, int error)
{
    if (error == EEXIST || error == ENOSPC || error == EDQUOT)
        return OsFailure(dst, error);
    struct stat st;
    if (error == ENOENT && ::lstat(src.c_str(), &st) == 0)
        return MissingFolderFailure(dst, ParentFolder(dst), error);
    return OsFailure(src, error);
}

/// Errors of link that say the file system has no hard links (FAT and exFAT
/// through FUSE, NTFS through ntfs-3g, many network shares), rather than that
/// this one link cannot be made.
bool LinksRefused(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

/// Gives the file from the name to where the file system has neither a rename
/// that refuses to replace nor hard links. A claim record (a temporary file
/// naming to) is written and flushed first; then to is claimed by creating it
/// empty and exclusively, which fails when the name is taken, so that of two
/// programs claiming one name only one gets it; it stays locked while it
/// stands. Only then is from renamed over that empty file of its own. A run
/// killed on the way leaves the record, the empty claimed file or both, which
/// RemoveStaleTemporaries recognises and removes. 0, or the error number.
int ClaimAndRename(const std::string& from, const std::string& to)
{
    const std::string folder = ParentFolder(to);
    TFd recordFd;
    TTempFile record;
    if (TResult made = MakeTempBeside(folder, recordFd, record); !made)
        return made.OsError() != 0 ? made.OsError() : EIO;
    const std::string text = ClaimRecord(to.substr(to.find_last_of('/') + 1));
    if (!WriteAll(recordFd.Get(), text.data(), text.size()) || ::fsync(recordFd.Get()) != 0)
        return errno;
    TFd claim(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!claim.Valid())
        return errno;
    ::flock(claim.Get(), LOCK_EX | LOCK_NB);
    if (::rename(from.c_str(), to.c_str()) == 0)
        return 0;
    const int error = errno;
    // Only the very file claimed goes.
    struct stat own;
    struct stat now;
    if (::fstat(claim.Get(), &own) == 0 && ::lstat(to.c_str(), &now) == 0 && own.st_dev == now.st_dev &&
        own.st_ino == now.st_ino)
        ::unlink(to.c_str());
    return error;
}

/// How a file got its other name.
enum class TNaming
{
    Renamed,
    Linked ///< from keeps its name too
};

/// Gives the file from the name to, never replacing a file there, the first
/// way the file system offers: a rename that refuses to replace, a hard link,
/// or the claim of the name and a rename over it. 0, or the error number.
int NameNoReplace(const std::string& from, const std::string& to, TNaming& how)
{
    how = TNaming::Renamed;
    switch (RenameNoReplace(from, to)) {
    case TRename::Done:
        return 0;
    case TRename::Failed:
        return errno;
    case TRename::Unsupported:
        break;
    }
    if (::link(from.c_str(), to.c_str()) == 0) {
        how = TNaming::Linked;
        return 0;
    }
    if (!LinksRefused(errno))
        return errno;
    return ClaimAndRename(from, to);
}

/// When the left-over temporary file fd (of size bytes, locked by the caller)
/// is a claim record, removes the file it names in the folder dirFd if that is
/// still the empty file claimed: not locked by a running copy, nothing
/// written to it. 1 when it was removed, else 0.
int RemoveAbandonedClaim(int dirFd, int fd, off_t size)
{
    if (size <= 0 || static_cast<size_t>(size) > kClaimRecordMax)
        return 0;
    std::string content(static_cast<size_t>(size), '\0');
    if (ReadAt(fd, content.data(), content.size(), 0) != size)
        return 0;
    const std::string name = ClaimedName(content);
    if (name.empty())
        return 0;
    TFd claim(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    struct stat now;
    if (!claim.Valid() || ::fstat(claim.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0 ||
        ::flock(claim.Get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != st.st_dev ||
        now.st_ino != st.st_ino)
        return 0;
    return ::unlinkat(dirFd, name.c_str(), 0) == 0 ? 1 : 0;
}

} // namespace

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
    /// Whether a syncfs of the target's file system flushes this copy (not so on FUSE).
    bool SyncfsReaches = true;
    dev_t Device = 0;
    TFd In;
    TFd Out;
    TTempFile Temp;
    std::string Src;
    std::string Dst;
    std::string Folder;
    off_t Size = 0;
    /// The photo's access and modification times, which the copy keeps.
    timespec Times[2] = {};

private:
    std::set<TLinuxStagedCopy*>& FUnfinished;
};

/// Copies the rest of the photo into the rest of the copy, then gives the
/// copy the photo's times (after the last write, so that they stay).
TResult WriteCopy(TLinuxStagedCopy& copy)
{
    if (TResult copied = CopyData(copy.In.Get(), copy.Out.Get(), copy.Src, copy.Dst); !copied)
        return copied;
    if (::futimens(copy.Out.Get(), copy.Times) != 0)
        return OsFailure(copy.Dst, errno);
    return {};
}

TResult MakeTempBeside(const std::string& folder, TFd& fd, TTempFile& temp)
{
    // The file is locked for as long as it is written, which tells the
    // removal of left-over temporary files to keep its hands off. Between
    // its creation and the lock another run's removal may take the fresh
    // file (it was not locked yet); then its lock is refused, or the file
    // has no name any more once it is locked, and another one is made.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string name = (folder == "/" ? std::string() : folder) + "/.fotoimport-XXXXXX";
        fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
        if (!fd.Valid())
            return MissingFolderFailure(folder, folder, errno);
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                continue;
            // A file system without locks: the file is unguarded, but usable.
            temp.Set(std::move(name));
            return {};
        }
        struct stat st;
        if (::fstat(fd.Get(), &st) != 0)
            return OsFailure(folder, errno);
        if (st.st_nlink == 0)
            continue;
        temp.Set(std::move(name));
        return {};
    }
    fd.Reset(-1);
    return OsFailure(folder, EAGAIN);
}

TResult TLinuxPlatform::Stage(const std::string& src, const std::string& dst,
                              std::unique_ptr<TLinuxStagedCopy>& result)
{
    auto copy = std::make_unique<TLinuxStagedCopy>(FUnfinished);
    // A link is not a photo of the card, even when it names one.
    copy->In.Reset(::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    struct stat st;
    if (!copy->In.Valid() || ::fstat(copy->In.Get(), &st) != 0)
        return OsFailure(src, errno);
    if (!S_ISREG(st.st_mode))
        return TResult::Fail(TFailure::NotSafe, src, "not a regular file");
    copy->Size = st.st_size;
    copy->Src = src;
    copy->Dst = dst;
    copy->Folder = ParentFolder(dst);
    if (TResult made = MakeTempBeside(copy->Folder, copy->Out, copy->Temp); !made)
        return made;
    struct stat target;
    if (::fstat(copy->Out.Get(), &target) != 0)
        return OsFailure(dst, errno);
    copy->Device = target.st_dev;
    struct statfs fileSystem;
    copy->SyncfsReaches = ::fstatfs(copy->Out.Get(), &fileSystem) == 0 && fileSystem.f_type != kFuseMagic;
    copy->Times[0] = st.st_atim;
    copy->Times[1] = st.st_mtim;
    if (::fchmod(copy->Out.Get(), FFileMode) != 0)
        return OsFailure(dst, errno);
    if (TResult written = WriteCopy(*copy); !written)
        return written;
    // The disk may start on it now, while the next photos are staged.
    ::sync_file_range(copy->Out.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    result = std::move(copy);
    return {};
}

TResult TLinuxPlatform::Verify(TLinuxStagedCopy& copy)
{
    const TResult first = SameContent(copy.In.Get(), copy.Out.Get(), copy.Size, copy.Src, copy.Dst);
    if (first.Kind() != TFailure::Mismatch)
        return first;
    // Either read may have been the wrong one: the photo is copied once more,
    // read from the card's disk again, and compared again.
    DropCachedPages(copy.In.Get());
    if (::lseek(copy.In.Get(), 0, SEEK_SET) != 0)
        return OsFailure(copy.Src, errno);
    if (::ftruncate(copy.Out.Get(), 0) != 0 || ::lseek(copy.Out.Get(), 0, SEEK_SET) != 0)
        return OsFailure(copy.Dst, errno);
    if (TResult written = WriteCopy(copy); !written)
        return written;
    if (::fsync(copy.Out.Get()) != 0)
        return OsFailure(copy.Dst, errno);
    const TResult second = SameContent(copy.In.Get(), copy.Out.Get(), copy.Size, copy.Src, copy.Dst);
    if (second.Kind() != TFailure::Mismatch)
        return second;
    return TResult::Fail(TFailure::Mismatch, second.Path(), second.Message() + ", also when copied again");
}

TResult TLinuxPlatform::Finish(TLinuxStagedCopy& copy, bool alone)
{
    // One flush of the whole file system writes the data of every copy staged
    // on it so far and commits it in one go, as a sync would, and reports any
    // error of writing them. Only when it fails is each file flushed on its
    // own, to learn which one is bad. A move flushes just its own file.
    if (!alone && copy.SyncfsReaches && !copy.GroupFlushed && ::syncfs(copy.Out.Get()) == 0) {
        for (TLinuxStagedCopy* staged : FUnfinished) {
            if (staged->Device == copy.Device)
                staged->GroupFlushed = true;
        }
    }
    if (!copy.GroupFlushed && ::fsync(copy.Out.Get()) != 0)
        return OsFailure(copy.Dst, errno);
    if (TResult verified = Verify(copy); !verified)
        return verified;
    // Reading it back set the copy's access time: the photo's times once more.
    ::futimens(copy.Out.Get(), copy.Times);
    TNaming how = TNaming::Renamed;
    if (const int error = NameNoReplace(copy.Temp.Name(), copy.Dst, how); error != 0)
        return MissingFolderFailure(copy.Dst, copy.Folder, error);
    // A second name made by a link: the temporary name goes with the copy.
    if (how == TNaming::Renamed)
        copy.Temp.Keep();
    if (!alone) {
        // The data is on the disk; the folder entries of a run of copies are
        // flushed together by FlushFolders.
        FPendingFolders.insert(copy.Folder);
        return {};
    }
    if (TResult synced = SyncFolder(copy.Folder); !synced) {
        // The new name may not survive a power cut: take back what this call made.
        ::unlink(copy.Dst.c_str());
        return synced;
    }
    return {};
}

TResult TLinuxPlatform::SafeCopy(const std::string& src, const std::string& dst, bool alone)
{
    std::unique_ptr<TLinuxStagedCopy> copy;
    if (TResult staged = Stage(src, dst, copy); !staged)
        return staged;
    return Finish(*copy, alone);
}

TResult TLinuxPlatform::StageCopy(const std::string& src, const std::string& dst,
                                  std::unique_ptr<TStagedCopy>& copy)
{
    copy.reset();
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ENOENT);
    std::unique_ptr<TLinuxStagedCopy> staged;
    TResult result = Stage(src, dst, staged);
    copy = std::move(staged);
    return result;
}

TResult TLinuxPlatform::FinishCopy(TStagedCopy& copy)
{
    auto* staged = dynamic_cast<TLinuxStagedCopy*>(&copy);
    if (staged == nullptr)
        return TResult::Fail(TFailure::Other, {}, "not a copy staged by this platform");
    return Finish(*staged, false);
}

TResult TLinuxPlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ENOENT);
    return SafeCopy(src, dst, false);
}

TResult TLinuxPlatform::MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ENOENT);
    // On one file system the photo is renamed; it is the same file, nothing to verify.
    TNaming how = TNaming::Renamed;
    const int naming = NameNoReplace(src, dst, how);
    if (naming == 0) {
        if (how == TNaming::Linked && ::unlink(src.c_str()) != 0) {
            const int unlinkError = errno;
            ::unlink(dst.c_str());
            return OsFailure(src, unlinkError);
        }
        SyncFolder(ParentFolder(src));
        return SyncFolder(ParentFolder(dst));
    }
    if (naming != EXDEV)
        return NameFailure(src, dst, naming);
    if (TResult copied = SafeCopy(src, dst, true); !copied)
        return copied;
    if (::unlink(src.c_str()) != 0) {
        const int error = errno;
        if (sourceKept != nullptr) {
            // The card refuses to let go of the photo (write-protected): the
            // verified copy is a good import, and the photo stays on the card.
            *sourceKept = OsFailure(src, error);
            return {};
        }
        // The caller wants the photo either moved or untouched.
        ::unlink(dst.c_str());
        SyncFolder(ParentFolder(dst));
        return OsFailure(src, error);
    }
    SyncFolder(ParentFolder(src));
    return {};
}

TResult TLinuxPlatform::RemovePhoto(const std::string& path)
{
    if (path.empty() || ::unlink(path.c_str()) != 0)
        return OsFailure(path, path.empty() ? ENOENT : errno);
    return SyncFolder(ParentFolder(path));
}

TResult TLinuxPlatform::SameFileContents(const std::string& a, const std::string& b, bool& same)
{
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    TFd fa(a.empty() ? -1 : ::open(a.c_str(), flags));
    if (!fa.Valid())
        return OsFailure(a, a.empty() ? ENOENT : errno);
    TFd fb(b.empty() ? -1 : ::open(b.c_str(), flags));
    if (!fb.Valid())
        return OsFailure(b, b.empty() ? ENOENT : errno);
    struct stat sa;
    struct stat sb;
    if (::fstat(fa.Get(), &sa) != 0)
        return OsFailure(a, errno);
    if (::fstat(fb.Get(), &sb) != 0)
        return OsFailure(b, errno);
    if (!S_ISREG(sa.st_mode))
        return TResult::Fail(TFailure::NotSafe, a, "not a regular file");
    if (!S_ISREG(sb.st_mode))
        return TResult::Fail(TFailure::NotSafe, b, "not a regular file");
    if (sa.st_size != sb.st_size) {
        same = false;
        return {};
    }
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) {
        same = true;
        return {};
    }
    return CompareContent(fa.Get(), fb.Get(), a, b, same);
}

TResult TLinuxPlatform::RemoveStaleTemporaries(const std::string& folder, int& removed)
{
    removed = 0;
    TFd dirFd(folder.empty() ? -1 : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.Valid())
        return folder.empty() ? OsFailure(folder, ENOENT) : MissingFolderFailure(folder, folder, errno);
    // Names first: the folder changes while they are removed.
    std::vector<std::string> names;
    {
        DIR* dir = ::fdopendir(::dup(dirFd.Get()));
        if (dir == nullptr)
            return OsFailure(folder, errno);
        while (const dirent* entry = ::readdir(dir)) {
            if (IsTempName(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
    }
    std::set<std::string> own;
    for (const TLinuxStagedCopy* copy : FUnfinished)
        own.insert(copy->Temp.Name());
    const std::string prefix = folder == "/" ? std::string() : folder;
    TResult result;
    for (const std::string& name : names) {
        // Copies this platform is still making are not left over, whatever
        // the file system's locks say.
        if (own.count(prefix + "/" + name) != 0)
            continue;
        TFd fd(
            ::openat(dirFd.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat st;
        if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // Locked: a copy or replacement of a running import is writing it.
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        // Only the very file that was locked goes.
        struct stat now;
        if (::fstatat(dirFd.Get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != st.st_dev ||
            now.st_ino != st.st_ino)
            continue;
        // A claim record: its empty claimed file goes first, while the record is locked.
        removed += RemoveAbandonedClaim(dirFd.Get(), fd.Get(), st.st_size);
        if (::unlinkat(dirFd.Get(), name.c_str(), 0) == 0)
            ++removed;
        else if (result)
            result = OsFailure(prefix + "/" + name, errno);
    }
    return result;
}

TResult TLinuxPlatform::FlushFolders()
{
    // One flush per file system commits the new entries of all its folders;
    // on FUSE, which a syncfs does not reach, each folder is flushed.
    TResult result;
    const auto note = [&](const std::string& folder, int error) {
        if (result)
            result = OsFailure(folder, error);
    };
    std::set<dev_t> flushed;
    for (const std::string& folder : FPendingFolders) {
        TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st;
        if (!dir.Valid() || ::fstat(dir.Get(), &st) != 0) {
            note(folder, errno);
            continue;
        }
        struct statfs fileSystem;
        if (::fstatfs(dir.Get(), &fileSystem) == 0 && fileSystem.f_type == kFuseMagic) {
            if (::fsync(dir.Get()) != 0)
                note(folder, errno);
        } else if (flushed.insert(st.st_dev).second && ::syncfs(dir.Get()) != 0) {
            note(folder, errno);
        }
    }
    FPendingFolders.clear();
    return result;
}

TResult TLinuxPlatform::ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces)
{
    struct stat info;
    if (target.empty())
        return OsFailure(target, ENOENT);
    if (::stat(target.c_str(), &info) != 0)
        return OsFailure(target, errno);
    if (!S_ISREG(info.st_mode))
        return TResult::Fail(TFailure::NotSafe, target, "not a regular file");
    const std::string folder = ParentFolder(target);
    TFd out;
    TTempFile temp;
    if (TResult made = MakeTempBeside(folder, out, temp); !made)
        return made;
    if (::fchmod(out.Get(), info.st_mode & 07777) != 0)
        return OsFailure(target, errno);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    const auto write = [&]() -> TResult {
        if (::ftruncate(out.Get(), 0) != 0 || ::lseek(out.Get(), 0, SEEK_SET) != 0)
            return OsFailure(target, errno);
        for (const TDataPiece& piece : pieces) {
            if (piece.Size > 0 && !WriteAll(out.Get(), static_cast<const char*>(piece.Data), piece.Size))
                return OsFailure(target, errno);
        }
        // Times after the last write, so that they stay, and before the flush, so that it carries them.
        if (::futimens(out.Get(), times) != 0 || ::fsync(out.Get()) != 0)
            return OsFailure(target, errno);
        return {};
    };
    // Read back from the disk before it takes the photo's place; written once more when it differs.
    bool same = false;
    for (int attempt = 0; attempt < 2 && !same; ++attempt) {
        if (TResult written = write(); !written)
            return written;
        if (TResult read = SameAsPieces(out.Get(), pieces, target, same); !read)
            return read;
    }
    if (!same)
        return TResult::Fail(
            TFailure::Mismatch, target,
            "the new contents read back differ from what was written, also when written again");
    // Reading it back set the access time: the photo's times once more.
    ::futimens(out.Get(), times);
    // Renamed while still open and locked, so that no removal of left-over
    // temporary files can take it between the flush and the rename.
    if (::rename(temp.Name().c_str(), target.c_str()) != 0)
        return OsFailure(target, errno);
    temp.Keep();
    out.Close();
    // The new contents are in place either way; a folder that cannot be
    // flushed only leaves the old name's entry to the file system's own flush.
    SyncFolder(folder);
    return {};
}
