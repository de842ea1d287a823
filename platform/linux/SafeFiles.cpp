#include "platform/linux/LinuxPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kCopyChunk = size_t{8} << 20;
constexpr size_t kCompareChunk = size_t{1} << 20;

/// Writes all of data; false with errno set when the file takes no more.
bool WriteAll(int fd, const char* data, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
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

/// Compares the copy b with the original a, both read again from their file
/// systems: their cached pages are dropped first, so a byte that a flaky
/// reader delivered wrongly into the copy cannot also be the byte compared.
TResult SameContent(int a, int b, off_t size, const std::string& src, const std::string& dst)
{
    struct stat st;
    if (::fstat(b, &st) != 0)
        return OsFailure(dst, errno);
    if (st.st_size != size)
        return TResult::Fail(TFailure::Mismatch, dst, "the copy has a different size");
    ::posix_fadvise(a, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(b, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> left(kCompareChunk);
    std::vector<char> right(kCompareChunk);
    off_t offset = 0;
    for (;;) {
        const ssize_t na = ReadAt(a, left.data(), left.size(), offset);
        if (na < 0)
            return OsFailure(src, errno);
        const ssize_t nb = ReadAt(b, right.data(), right.size(), offset);
        if (nb < 0)
            return OsFailure(dst, errno);
        if (na != nb || std::memcmp(left.data(), right.data(), static_cast<size_t>(na)) != 0)
            return TResult::Fail(TFailure::Mismatch, src, "the copy read back differs from the original");
        if (na == 0)
            return offset == size ? TResult()
                                  : TResult::Fail(TFailure::Mismatch, src, "the original changed its size");
        offset += na;
    }
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

/// The failure of renaming or linking src to dst: a taken name is dst's, a
/// missing one whichever of the two is missing, anything else src's.
TResult NameFailure(const std::string& src, const std::string& dst, int error)
{
    if (error == EEXIST || error == ENOSPC || error == EDQUOT)
        return OsFailure(dst, error);
    struct stat st;
    if (error == ENOENT && ::lstat(src.c_str(), &st) == 0)
        return OsFailure(dst, error);
    return OsFailure(src, error);
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
    dev_t Device = 0;
    TFd In;
    TFd Out;
    TTempFile Temp;
    std::string Src;
    std::string Dst;
    std::string Folder;
    off_t Size = 0;

private:
    std::set<TLinuxStagedCopy*>& FUnfinished;
};

TResult MakeTempBeside(const std::string& folder, TFd& fd, TTempFile& temp)
{
    std::string name = (folder == "/" ? std::string() : folder) + "/.fotoimport-XXXXXX";
    fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.Valid())
        return OsFailure(folder, errno);
    temp.Set(std::move(name));
    return {};
}

TResult TLinuxPlatform::Stage(const std::string& src, const std::string& dst,
                              std::unique_ptr<TLinuxStagedCopy>& result)
{
    auto copy = std::make_unique<TLinuxStagedCopy>(FUnfinished);
    copy->In.Reset(::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
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
    if (TResult copied = CopyData(copy->In.Get(), copy->Out.Get(), src, dst); !copied)
        return copied;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (::fchmod(copy->Out.Get(), FFileMode) != 0 || ::futimens(copy->Out.Get(), times) != 0)
        return OsFailure(dst, errno);
    // The disk may start on it now, while the next photos are staged.
    ::sync_file_range(copy->Out.Get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    result = std::move(copy);
    return {};
}

TResult TLinuxPlatform::Finish(TLinuxStagedCopy& copy, bool verify)
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
        return OsFailure(copy.Dst, errno);
    if (verify) {
        if (TResult same = SameContent(copy.In.Get(), copy.Out.Get(), copy.Size, copy.Src, copy.Dst); !same)
            return same;
    }
    switch (RenameNoReplace(copy.Temp.Name(), copy.Dst)) {
    case TRename::Done:
        copy.Temp.Keep();
        break;
    case TRename::Unsupported:
        // A second name that cannot replace anything; the temporary name goes with the copy.
        if (::link(copy.Temp.Name().c_str(), copy.Dst.c_str()) != 0)
            return OsFailure(copy.Dst, errno);
        break;
    case TRename::Failed:
        return OsFailure(copy.Dst, errno);
    }
    if (!verify) {
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

TResult TLinuxPlatform::SafeCopy(const std::string& src, const std::string& dst, bool verify)
{
    std::unique_ptr<TLinuxStagedCopy> copy;
    if (TResult staged = Stage(src, dst, copy); !staged)
        return staged;
    return Finish(*copy, verify);
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

TResult TLinuxPlatform::MovePhoto(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ENOENT);
    switch (RenameNoReplace(src, dst)) {
    case TRename::Done:
        SyncFolder(ParentFolder(src));
        return SyncFolder(ParentFolder(dst));
    case TRename::Failed:
        if (errno != EXDEV)
            return NameFailure(src, dst, errno);
        break;
    case TRename::Unsupported:
        if (::link(src.c_str(), dst.c_str()) == 0) {
            if (::unlink(src.c_str()) != 0) {
                const int error = errno;
                ::unlink(dst.c_str());
                return OsFailure(src, error);
            }
            SyncFolder(ParentFolder(src));
            return SyncFolder(ParentFolder(dst));
        }
        // File systems without hard links (FAT) take the copy below.
        if (errno != EXDEV && errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
            return NameFailure(src, dst, errno);
        break;
    }
    if (TResult copied = SafeCopy(src, dst, true); !copied)
        return copied;
    if (::unlink(src.c_str()) != 0) {
        // The card refuses to let go of the photo: undo the copy, so the photo
        // is either moved or untouched.
        const int error = errno;
        ::unlink(dst.c_str());
        return OsFailure(src, error);
    }
    SyncFolder(ParentFolder(src));
    return {};
}

TResult TLinuxPlatform::FlushFolders()
{
    // One flush per file system commits the new entries of all its folders.
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
        if (flushed.insert(st.st_dev).second && ::syncfs(dir.Get()) != 0)
            note(folder, errno);
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
    for (const TDataPiece& piece : pieces) {
        if (piece.Size > 0 && !WriteAll(out.Get(), static_cast<const char*>(piece.Data), piece.Size))
            return OsFailure(target, errno);
    }
    // Permissions and times first, so that the flush carries them too.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    if (::fchmod(out.Get(), info.st_mode & 07777) != 0 || ::futimens(out.Get(), times) != 0 ||
        ::fsync(out.Get()) != 0)
        return OsFailure(target, errno);
    if (const int error = out.Close(); error != 0)
        return OsFailure(target, error);
    if (::rename(temp.Name().c_str(), target.c_str()) != 0)
        return OsFailure(target, errno);
    temp.Keep();
    // The new contents are in place either way; a folder that cannot be
    // flushed only leaves the old name's entry to the file system's own flush.
    SyncFolder(folder);
    return {};
}
