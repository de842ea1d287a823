#include "platform/LiveTemporaries.h"
#include "platform/SafeNames.h"
#include "platform/windows/WindowsPlatform.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kCompareChunk = 1u << 20;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
/// Reads past the system's cache: they reach the disk. They take whole
/// sectors into sector-aligned memory (TAlignedBuffer, whole chunks).
constexpr DWORD kUncached = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;

/// Whether the attributes are those of a plain file: no folder, no link (reparse point).
bool IsPlainFile(DWORD attributes)
{
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

TResult NotAFile(const std::string& path)
{
    return TResult::Fail(TFailure::NotSafe, path, "not a regular file");
}

/// A temporary file of this program beside its target. It stays open from
/// its creation until it has its final name: while a handle is open nobody
/// can open the file exclusively, which is how the removal of left-over
/// temporaries (of any process) tells it from one that was left behind. The
/// handle lets others read it and rename it, so the copy can be read back and
/// named while still open. Dropped without a name, the file is removed.
class TTempFile
{
public:
    TTempFile() = default;
    ~TTempFile() { Discard(); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    /// Creates a fresh, empty temporary file in folder.
    TResult Create(const std::string& folder);
    HANDLE Handle() const { return FHandle; }
    const std::string& Name() const { return FName; }
    /// Gives the file the name target, replacing a file there only when
    /// replace is set, then closes it; the file is no longer temporary. On
    /// failure it stays temporary and the system's error number is returned.
    DWORD Rename(const std::string& target, bool replace);

private:
    void Discard();

    HANDLE FHandle = INVALID_HANDLE_VALUE;
    std::string FName;
};

TResult TTempFile::Create(const std::string& folder)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = InFolder(folder, std::string(kTempPrefix));
        for (size_t i = 0; i < kTempLetters; ++i)
            name += kLetters[pick(random)];
        FHandle = ::CreateFileW(LongPath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FHandle != INVALID_HANDLE_VALUE) {
            FName = std::move(name);
            TLiveTemporaries::Add(FName);
            return {};
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return OsFailure(folder, error);
    }
    return OsFailure(folder, ERROR_FILE_EXISTS);
}

DWORD TTempFile::Rename(const std::string& target, bool replace)
{
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(LongPath(FName).c_str(), LongPath(target).c_str(), flags))
        return ::GetLastError();
    ::CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
    TLiveTemporaries::Remove(FName);
    FName.clear();
    return ERROR_SUCCESS;
}

/// Marks the open file h for removal when its last handle closes. A
/// read-only file cannot be removed, so its attribute is cleared first.
bool RemoveOnClose(HANDLE h)
{
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    if (::SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove))
        return true;
    FILE_BASIC_INFO plain{};
    plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &plain, sizeof plain) &&
           ::SetFileInformationByHandle(h, FileDispositionInfo, &remove, sizeof remove);
}

void TTempFile::Discard()
{
    if (FHandle == INVALID_HANDLE_VALUE)
        return;
    TLiveTemporaries::Remove(FName);
    const bool removed = RemoveOnClose(FHandle);
    ::CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
    if (!removed) {
        const std::wstring name = LongPath(FName);
        ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(name.c_str());
    }
}

bool ReadChunk(HANDLE h, char* data, DWORD count, DWORD& got)
{
    got = 0;
    while (got < count) {
        DWORD n = 0;
        if (!::ReadFile(h, data + got, count - got, &n, nullptr))
            return false;
        if (n == 0)
            break;
        got += n;
    }
    return true;
}

/// Opens path for reading without changing it, sharing as share allows.
HANDLE OpenForReading(const std::string& path, DWORD share, DWORD flags)
{
    return ::CreateFileW(LongPath(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

/// Opens the photo at path for reading, writers kept out meanwhile. Only a
/// plain file is a photo: a folder or a link (reparse point) is refused.
TResult OpenPhoto(const std::string& path, THandle& photo, BY_HANDLE_FILE_INFORMATION& info)
{
    if (path.empty())
        return OsFailure(path, ERROR_FILE_NOT_FOUND);
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure(path);
    if (!IsPlainFile(attributes))
        return NotAFile(path);
    photo.Reset(
        OpenForReading(path, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!photo.Valid() || !::GetFileInformationByHandle(photo.Get(), &info))
        return LastFailure(path);
    // What was opened, not what the name showed a moment before.
    if (!IsPlainFile(info.dwFileAttributes))
        return NotAFile(path);
    return {};
}

/// Page-aligned memory, as reads that bypass the system's cache need.
class TAlignedBuffer
{
public:
    explicit TAlignedBuffer(DWORD size)
        : FData(static_cast<char*>(::VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
    }
    ~TAlignedBuffer()
    {
        if (FData != nullptr)
            ::VirtualFree(FData, 0, MEM_RELEASE);
    }
    TAlignedBuffer(const TAlignedBuffer&) = delete;
    TAlignedBuffer& operator=(const TAlignedBuffer&) = delete;
    char* Data() const { return FData; }

private:
    char* FData;
};

/// Compares the flushed copy in the temporary file temp with the original
/// src, both read back from their disks past the system's cache (a second
/// handle on the same file would read the cached pages the copy was written
/// from). dst names the copy in failures. Every copy goes through here
/// before it gets its name.
TResult SameContent(const std::string& src, const std::string& temp, const std::string& dst)
{
    THandle left(OpenForReading(src, kShareAll, kUncached));
    if (!left.Valid())
        return LastFailure(src);
    THandle right(OpenForReading(temp, kShareAll, kUncached));
    if (!right.Valid())
        return LastFailure(dst);
    TAlignedBuffer x(kCompareChunk);
    TAlignedBuffer y(kCompareChunk);
    if (x.Data() == nullptr || y.Data() == nullptr)
        return OsFailure(src, ERROR_NOT_ENOUGH_MEMORY);
    for (;;) {
        // Whole chunks: a read past the cache takes whole sectors.
        DWORD nx = 0;
        DWORD ny = 0;
        if (!::ReadFile(left.Get(), x.Data(), kCompareChunk, &nx, nullptr))
            return LastFailure(src);
        if (!::ReadFile(right.Get(), y.Data(), kCompareChunk, &ny, nullptr))
            return LastFailure(dst);
        if (nx != ny || std::memcmp(x.Data(), y.Data(), nx) != 0)
            return TResult::Fail(TFailure::Mismatch, src, "the copy read back differs from the original");
        // A short chunk is the last: past it the position is no longer whole sectors.
        if (nx < kCompareChunk)
            return {};
    }
}

/// Whether the flushed temporary file temp holds exactly the pieces, one
/// after the other, read back from the disk past the system's cache. target
/// names it in failures.
TResult SameAsPieces(const std::string& temp, const std::string& target, std::span<const TDataPiece> pieces,
                     bool& same)
{
    same = false;
    THandle file(OpenForReading(temp, kShareAll, kUncached));
    if (!file.Valid())
        return LastFailure(target);
    TAlignedBuffer buffer(kCompareChunk);
    if (buffer.Data() == nullptr)
        return OsFailure(target, ERROR_NOT_ENOUGH_MEMORY);
    size_t piece = 0;
    size_t within = 0; // bytes of pieces[piece] compared so far
    const auto skipDone = [&] {
        while (piece < pieces.size() && within == pieces[piece].Size) {
            ++piece;
            within = 0;
        }
    };
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer.Data(), kCompareChunk, &got, nullptr))
            return LastFailure(target);
        for (DWORD at = 0; at < got;) {
            skipDone();
            if (piece == pieces.size())
                return {}; // longer than the pieces
            const size_t n = std::min<size_t>(got - at, pieces[piece].Size - within);
            if (std::memcmp(buffer.Data() + at, static_cast<const char*>(pieces[piece].Data) + within, n) !=
                0)
                return {};
            at += static_cast<DWORD>(n);
            within += n;
        }
        if (got < kCompareChunk)
            break;
    }
    skipDone();
    same = piece == pieces.size();
    return {};
}

/// Moves the file pointer of h to the start and cuts the file there.
bool Rewind(HANDLE h, bool cut)
{
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(h, start, nullptr, FILE_BEGIN) && (!cut || ::SetEndOfFile(h));
}

/// When the left-over temporary file record (held exclusively, info its
/// information) is a claim record that a system without no-replace renames
/// left, removes the file it names in folder if that is still the empty file
/// claimed and nobody holds it open. 1 when it was removed, else 0.
int RemoveAbandonedClaim(const std::string& folder, HANDLE record, const BY_HANDLE_FILE_INFORMATION& info)
{
    if (info.nFileSizeHigh != 0 || info.nFileSizeLow == 0 || info.nFileSizeLow > kClaimRecordMax)
        return 0;
    std::string content(info.nFileSizeLow, '\0');
    DWORD got = 0;
    if (!ReadChunk(record, content.data(), info.nFileSizeLow, got) || got != info.nFileSizeLow)
        return 0;
    // A colon would name a stream of a file rather than a file.
    const std::string name = ClaimedName(content);
    if (name.empty() || name.find(':') != std::string::npos)
        return 0;
    THandle claim(::CreateFileW(LongPath(InFolder(folder, name)).c_str(),
                                DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION claimed;
    if (!claim.Valid() || !::GetFileInformationByHandle(claim.Get(), &claimed) ||
        !IsPlainFile(claimed.dwFileAttributes) || claimed.nFileSizeHigh != 0 || claimed.nFileSizeLow != 0)
        return 0;
    return RemoveOnClose(claim.Get()) ? 1 : 0;
}

} // namespace

TResult TWindowsPlatform::SafeCopy(const std::string& src, const std::string& dst)
{
    THandle in;
    BY_HANDLE_FILE_INFORMATION info;
    if (TResult opened = OpenPhoto(src, in, info); !opened)
        return opened;
    TTempFile temp;
    if (TResult made = temp.Create(ParentFolder(dst)); !made)
        return made;
    // The data is copied by hand rather than by the system's file copy, which
    // would carry the card's attributes over: a photo protected in the camera
    // is read-only, and so would be its copy, in the user's folder as well.
    std::vector<char> buffer(kCompareChunk);
    const auto write = [&]() -> TResult {
        if (!Rewind(in.Get(), false))
            return LastFailure(src);
        if (!Rewind(temp.Handle(), true))
            return LastFailure(dst);
        for (;;) {
            DWORD got = 0;
            if (!ReadChunk(in.Get(), buffer.data(), kCompareChunk, got))
                return LastFailure(src);
            if (got == 0)
                break;
            if (!WriteAll(temp.Handle(), buffer.data(), got))
                return LastFailure(dst);
        }
        // Times set after the last write stay as set when the handle closes.
        if (!::SetFileTime(temp.Handle(), nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime) ||
            !::FlushFileBuffers(temp.Handle()))
            return LastFailure(dst);
        return {};
    };
    if (TResult written = write(); !written)
        return written;
    TResult same = SameContent(src, temp.Name(), dst);
    if (same.Kind() == TFailure::Mismatch) {
        // Either read may have been the wrong one: the photo is copied once more and compared again.
        if (TResult written = write(); !written)
            return written;
        same = SameContent(src, temp.Name(), dst);
        if (same.Kind() == TFailure::Mismatch)
            return TResult::Fail(TFailure::Mismatch, same.Path(),
                                 same.Message() + ", also when copied again");
    }
    if (!same)
        return same;
    // Reading it back may have set the access time: the photo's times once more.
    ::SetFileTime(temp.Handle(), nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime);
    // Never replacing: the rename fails when dst exists.
    if (const DWORD error = temp.Rename(dst, false); error != ERROR_SUCCESS)
        return OsFailure(dst, error);
    return {};
}

TResult TWindowsPlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ERROR_FILE_NOT_FOUND);
    return SafeCopy(src, dst);
}

TResult TWindowsPlatform::MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ERROR_FILE_NOT_FOUND);
    // Without MOVEFILE_COPY_ALLOWED a move to another drive fails instead of copying unchecked.
    if (::MoveFileExW(LongPath(src).c_str(), LongPath(dst).c_str(), MOVEFILE_WRITE_THROUGH))
        return {};
    const DWORD error = ::GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE) {
        // The name that was in the way, or the one that led nowhere: a missing folder of dst is dst's.
        const bool dstsFault = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ||
                               (error == ERROR_PATH_NOT_FOUND && Attributes(src) != INVALID_FILE_ATTRIBUTES);
        return OsFailure(dstsFault ? dst : src, error);
    }
    if (TResult copied = SafeCopy(src, dst); !copied)
        return copied;
    if (!::DeleteFileW(LongPath(src).c_str())) {
        const DWORD deleteError = ::GetLastError();
        if (sourceKept != nullptr) {
            // A write-protected card: the verified copy stays, so does the photo.
            *sourceKept = OsFailure(src, deleteError);
            return {};
        }
        ::DeleteFileW(LongPath(dst).c_str());
        return OsFailure(src, deleteError);
    }
    return {};
}

TResult TWindowsPlatform::RemovePhoto(const std::string& path)
{
    if (path.empty())
        return OsFailure(path, ERROR_FILE_NOT_FOUND);
    if (!::DeleteFileW(LongPath(path).c_str()))
        return LastFailure(path);
    return {};
}

TResult TWindowsPlatform::SameFileContents(const std::string& a, const std::string& b, bool& same)
{
    for (const std::string* path : {&a, &b}) {
        const DWORD attributes = path->empty() ? INVALID_FILE_ATTRIBUTES : Attributes(*path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return path->empty() ? OsFailure(*path, ERROR_FILE_NOT_FOUND) : LastFailure(*path);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return NotAFile(*path);
    }
    THandle left(OpenForReading(a, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!left.Valid())
        return LastFailure(a);
    THandle right(OpenForReading(b, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!right.Valid())
        return LastFailure(b);
    LARGE_INTEGER sa;
    LARGE_INTEGER sb;
    if (!::GetFileSizeEx(left.Get(), &sa))
        return LastFailure(a);
    if (!::GetFileSizeEx(right.Get(), &sb))
        return LastFailure(b);
    if (sa.QuadPart != sb.QuadPart) {
        same = false;
        return {};
    }
    std::vector<char> x(kCompareChunk);
    std::vector<char> y(kCompareChunk);
    for (;;) {
        DWORD nx = 0;
        DWORD ny = 0;
        if (!ReadChunk(left.Get(), x.data(), kCompareChunk, nx))
            return LastFailure(a);
        if (!ReadChunk(right.Get(), y.data(), kCompareChunk, ny))
            return LastFailure(b);
        if (nx != ny || std::memcmp(x.data(), y.data(), nx) != 0) {
            same = false;
            return {};
        }
        if (nx == 0) {
            same = true;
            return {};
        }
    }
}

TResult TWindowsPlatform::RemoveStaleTemporaries(const std::string& folder, int& removed)
{
    removed = 0;
    const DWORD folderAttributes = folder.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(folder);
    if (folderAttributes == INVALID_FILE_ATTRIBUTES)
        return folder.empty() ? OsFailure(folder, ERROR_PATH_NOT_FOUND) : LastFailure(folder);
    if ((folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return OsFailure(folder, ERROR_DIRECTORY);
    // Names first: the folder changes while they are removed.
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((LongPath(InFolder(folder, "")) + L".fotoimport-*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = Utf8(data.cFileName);
            if (IsPlainFile(data.dwFileAttributes) && IsTempName(name))
                names.push_back(std::move(name));
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    TResult result;
    for (const std::string& name : names) {
        const std::string path = InFolder(folder, name);
        // Opened exclusively, or not at all: a file that a copy or replacement
        // (of this or another process) is still writing is open, and stays.
        THandle h(::CreateFileW(LongPath(path).c_str(),
                                DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info) ||
            !IsPlainFile(info.dwFileAttributes))
            continue;
        // A claim record: its empty claimed file goes too, while the record is held.
        removed += RemoveAbandonedClaim(folder, h.Get(), info);
        // Only the very file that was opened goes.
        if (RemoveOnClose(h.Get()))
            ++removed;
        else if (result)
            result = LastFailure(path);
    }
    return result;
}

TResult TWindowsPlatform::ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces)
{
    if (target.empty())
        return OsFailure(target, ERROR_FILE_NOT_FOUND);
    const DWORD attributes = Attributes(target);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure(target);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return NotAFile(target);
    BY_HANDLE_FILE_INFORMATION info;
    {
        THandle old(::CreateFileW(LongPath(target).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        if (!old.Valid() || !::GetFileInformationByHandle(old.Get(), &info))
            return LastFailure(target);
    }
    TTempFile temp;
    if (TResult made = temp.Create(ParentFolder(target)); !made)
        return made;
    // The photo keeps its times, the day it was made included, and its
    // attributes, which stand for its permissions: a read-only photo stays
    // read-only. Set after the last write, they stay as set.
    const auto ticks = [](const FILETIME& t) {
        LARGE_INTEGER v;
        v.LowPart = t.dwLowDateTime;
        v.HighPart = static_cast<LONG>(t.dwHighDateTime);
        return v;
    };
    constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.CreationTime = ticks(info.ftCreationTime);
    basic.LastAccessTime = ticks(info.ftLastAccessTime);
    basic.LastWriteTime = ticks(info.ftLastWriteTime);
    basic.FileAttributes = (info.dwFileAttributes & kKeptAttributes) != 0
                               ? info.dwFileAttributes & kKeptAttributes
                               : FILE_ATTRIBUTE_NORMAL;
    const auto write = [&]() -> TResult {
        if (!Rewind(temp.Handle(), true))
            return LastFailure(target);
        for (const TDataPiece& piece : pieces) {
            if (piece.Size > 0 && !WriteAll(temp.Handle(), static_cast<const char*>(piece.Data), piece.Size))
                return LastFailure(target);
        }
        if (!::SetFileInformationByHandle(temp.Handle(), FileBasicInfo, &basic, sizeof basic) ||
            !::FlushFileBuffers(temp.Handle()))
            return LastFailure(target);
        return {};
    };
    // Read back from the disk before it takes the photo's place; written once more when it differs.
    bool same = false;
    for (int attempt = 0; attempt < 2 && !same; ++attempt) {
        if (TResult written = write(); !written)
            return written;
        if (TResult read = SameAsPieces(temp.Name(), target, pieces, same); !read)
            return read;
    }
    if (!same)
        return TResult::Fail(
            TFailure::Mismatch, target,
            "the new contents read back differ from what was written, also when written again");
    // Reading it back may have set the access time: the photo's times once more.
    ::SetFileInformationByHandle(temp.Handle(), FileBasicInfo, &basic, sizeof basic);
    if (const DWORD error = temp.Rename(target, true); error != ERROR_SUCCESS)
        return OsFailure(target, error);
    return {};
}

void TWindowsPlatform::AbandonTemporaries()
{
    // The work that holds a file open may never close it: the file is removed now, or as soon as its last
    // handle closes with the process.
    for (const std::string& name : TLiveTemporaries::TakeAll()) {
        const std::wstring wide = LongPath(name);
        ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(wide.c_str());
    }
}
