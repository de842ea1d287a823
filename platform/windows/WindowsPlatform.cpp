#include "platform/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <shlobj.h>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace {

constexpr DWORD kCompareChunk = 1u << 20;
/// ERROR_DISK_QUOTA_EXCEEDED, which not every SDK's headers name.
constexpr DWORD kDiskQuotaExceeded = 1295;

/// A file handle closed when it goes out of scope.
class THandle
{
public:
    explicit THandle(HANDLE h = INVALID_HANDLE_VALUE)
        : FHandle(h)
    {
    }
    ~THandle()
    {
        if (Valid())
            ::CloseHandle(FHandle);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return FHandle; }
    bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
    void Reset(HANDLE h)
    {
        if (Valid())
            ::CloseHandle(FHandle);
        FHandle = h;
    }

private:
    HANDLE FHandle;
};

/// Critical errors (a drive without medium) fail quietly on this thread while this lives: no dialog asks
/// for a disk. Per thread, as drives are asked on worker threads.
class TQuietErrors
{
public:
    TQuietErrors() { FSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &FPrevious) != 0; }
    ~TQuietErrors()
    {
        if (FSet)
            ::SetThreadErrorMode(FPrevious, nullptr);
    }
    TQuietErrors(const TQuietErrors&) = delete;
    TQuietErrors& operator=(const TQuietErrors&) = delete;

private:
    DWORD FPrevious = 0;
    bool FSet = false;
};

std::string ParentFolder(const std::string& path)
{
    const size_t at = path.find_last_of("\\/");
    if (at == std::string::npos)
        return ".";
    if (at == 0 || (at == 2 && path[1] == ':'))
        return path.substr(0, at + 1);
    return path.substr(0, at);
}

TFailure FailureOfError(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return TFailure::None;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE:
        return TFailure::NoSpace;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return TFailure::Access;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY: // a file where a folder was expected
        return TFailure::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return TFailure::Exists;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_SECTOR_NOT_FOUND:
        return TFailure::Io;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_INVALID_DRIVE:
        return TFailure::Unavailable;
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_NOT_SUPPORTED:
        return TFailure::Unsupported;
    default:
        return TFailure::Other;
    }
}

/// The failure of a system call on path that left error: its kind, the number and the system's text.
TResult OsFailure(const std::string& path, DWORD error)
{
    char buffer[512] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                               buffer, sizeof buffer, nullptr);
    while (n > 0 &&
           (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
        --n;
    std::string text = n > 0 ? std::string(buffer, n) : "error " + std::to_string(error);
    return TResult::Fail(FailureOfError(error), path, std::move(text), static_cast<int>(error));
}

/// The failure of the last system call on path.
TResult LastFailure(const std::string& path)
{
    return OsFailure(path, ::GetLastError());
}

/// The temporary names of copies and replaced files: ".fotoimport-" and six
/// letters or digits, the same names as on Linux, so that either system
/// recognises the other's left-overs on a card or disk they share.
constexpr char kTempPrefix[] = ".fotoimport-";
constexpr size_t kTempLetters = 6;

bool IsTempName(const char* name)
{
    const size_t n = sizeof kTempPrefix - 1;
    if (std::strncmp(name, kTempPrefix, n) != 0 || std::strlen(name) != n + kTempLetters)
        return false;
    for (size_t i = n; i < n + kTempLetters; ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

/// folder joined with name by one backslash.
std::string InFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
        return folder + name;
    return folder + "\\" + name;
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
        std::string name = InFolder(folder, kTempPrefix);
        for (size_t i = 0; i < kTempLetters; ++i)
            name += kLetters[pick(random)];
        FHandle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        if (FHandle != INVALID_HANDLE_VALUE) {
            FName = std::move(name);
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
    if (!::MoveFileExA(FName.c_str(), target.c_str(), flags))
        return ::GetLastError();
    ::CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
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
    const bool removed = RemoveOnClose(FHandle);
    ::CloseHandle(FHandle);
    FHandle = INVALID_HANDLE_VALUE;
    if (!removed) {
        ::SetFileAttributesA(FName.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(FName.c_str());
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

bool WriteAll(HANDLE h, const char* data, size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!::WriteFile(h, data, chunk, &done, nullptr) || done == 0)
            return false;
        data += done;
        size -= done;
    }
    return true;
}

/// Opens the photo at path for reading, writers kept out meanwhile. Only a
/// plain file is a photo: a folder or a link (reparse point) is refused.
TResult OpenPhoto(const std::string& path, THandle& photo, BY_HANDLE_FILE_INFORMATION& info)
{
    if (path.empty())
        return OsFailure(path, ERROR_FILE_NOT_FOUND);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure(path);
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return TResult::Fail(TFailure::NotSafe, path, "not a regular file");
    photo.Reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!photo.Valid() || !::GetFileInformationByHandle(photo.Get(), &info))
        return LastFailure(path);
    // What was opened, not what the name showed a moment before.
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return TResult::Fail(TFailure::NotSafe, path, "not a regular file");
    return {};
}

class TWindowsPlatform : public TPlatform
{
public:
    TWindowsPlatform() = default;

    std::string DriveRoot(char letter) override;
    std::shared_ptr<TDriveQueries> DriveQueries() override;
    bool DirectoryExists(const std::string& path) override;
    bool CardFolderExists(const std::string& root, const std::string& name) override;
    bool FileExists(const std::string& path) override;
    TResult CreateDir(const std::string& path) override;
    TResult ForceDirectories(const std::string& path) override;
    TResult ForceUserFolder(const std::string& path) override;
    std::string ExtractFileName(const std::string& path) const override;
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear) override;
    TResult CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    TResult MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept = nullptr) override;
    TResult ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces) override;
    TResult SameFileContents(const std::string& a, const std::string& b, bool& same) override;
    TResult RemoveStaleTemporaries(const std::string& folder, int& removed) override;
    std::string DocumentsFolder() override;
    TResult FileModifiedDate(const std::string& path, TLocalDate& date) override;
    TResult FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds) override;
    std::string StateFolder() override;
    TResult AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize) override;
    bool StderrIsTerminal() override;
    int ProcessorCount() override;
    char PathDelim() const override { return '\\'; }

private:
    void SearchFolder(const std::string& p, const std::string& mask, TStringList& list, bool recursive,
                      int depth);
    TResult SafeCopy(const std::string& src, const std::string& dst, bool verify);

    std::shared_ptr<TDriveQueries> FDriveQueries;
};

std::string TWindowsPlatform::DriveRoot(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return {};
    return std::string(1, letter) + ":\\";
}

/// The drive questions for worker threads, through a platform of their own whose path questions keep no
/// state.
class TWindowsDriveQueries : public TDriveQueries
{
public:
    bool DriveIsReady(const std::string& root) override
    {
        if (root.empty())
            return false;
        TQuietErrors quiet;
        ULARGE_INTEGER available;
        ULARGE_INTEGER total;
        ULARGE_INTEGER totalFree;
        return ::GetDiskFreeSpaceExA(root.c_str(), &available, &total, &totalFree) != 0;
    }
    bool CardFolderExists(const std::string& root, const std::string& name) override
    {
        return FPlatform.CardFolderExists(root, name);
    }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list) override
    {
        FPlatform.FindFiles(folder, mask, list, true, true);
    }

private:
    TWindowsPlatform FPlatform;
};

std::shared_ptr<TDriveQueries> TWindowsPlatform::DriveQueries()
{
    if (!FDriveQueries)
        FDriveQueries = std::make_shared<TWindowsDriveQueries>();
    return FDriveQueries;
}

bool TWindowsPlatform::DirectoryExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool TWindowsPlatform::CardFolderExists(const std::string& root, const std::string& name)
{
    // One plain name: no separator, and no colon, which would name a stream of the folder.
    if (root.empty() || name.empty() || name == "." || name == ".." ||
        name.find_first_of("\\/:") != std::string::npos)
        return false;
    // A junction, a folder link or another volume mounted on the folder is a
    // reparse point: not the card's own folder.
    const DWORD attributes = ::GetFileAttributesA(JoinPath(root, name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool TWindowsPlatform::FileExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TResult TWindowsPlatform::CreateDir(const std::string& path)
{
    if (path.empty())
        return OsFailure(path, ERROR_PATH_NOT_FOUND);
    if (!::CreateDirectoryA(path.c_str(), nullptr))
        return LastFailure(path);
    return {};
}

TResult TWindowsPlatform::ForceDirectories(const std::string& path)
{
    if (path.empty())
        return OsFailure(path, ERROR_PATH_NOT_FOUND);
    std::string trimmed = path;
    while (trimmed.size() > 3 && (trimmed.back() == '\\' || trimmed.back() == '/'))
        trimmed.pop_back();
    if (DirectoryExists(trimmed))
        return {};
    const std::string parent = ParentFolder(trimmed);
    if (parent != trimmed && parent != ".") {
        if (TResult made = ForceDirectories(parent); !made)
            return made;
    }
    if (::CreateDirectoryA(trimmed.c_str(), nullptr) || DirectoryExists(trimmed))
        return {};
    const DWORD error = ::GetLastError();
    // A file in the way is not a folder: say so rather than "exists".
    return OsFailure(trimmed, error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
}

/// The shell's folder for csidl without a trailing backslash; empty when unknown.
std::string ShellFolder(int csidl)
{
    char buffer[MAX_PATH] = {};
    if (::SHGetFolderPathA(nullptr, csidl, nullptr, 0, buffer) != S_OK)
        return {};
    std::string result(buffer, ::strnlen(buffer, MAX_PATH));
    while (result.size() > 3 && result.back() == '\\')
        result.pop_back();
    return result;
}

/// The absolute form of path with "." and ".." resolved; empty when it cannot be.
std::string FullPath(const std::string& path)
{
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (n == 0 || n >= sizeof buffer)
        return {};
    std::string result(buffer, n);
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/'))
        result.pop_back();
    return result;
}

bool SameTextNoCase(const std::string& a, const std::string& b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

/// Whether path is folder or lies below it (both absolute, letters without regard to case).
bool IsWithin(const std::string& path, const std::string& folder)
{
    if (folder.empty() || path.size() < folder.size() || !SameTextNoCase(path, folder, folder.size()))
        return false;
    return path.size() == folder.size() || path[folder.size()] == '\\' || folder.back() == '\\';
}

/// A drive letter's root or a network share, not a path relative to the current folder.
bool IsAbsolute(const std::string& path)
{
    const auto slash = [](char c) { return c == '\\' || c == '/'; };
    const bool letter =
        path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return (letter && path[1] == ':' && slash(path[2])) ||
           (path.size() >= 2 && slash(path[0]) && slash(path[1]));
}

/// The path the system reaches for the existing path once junctions and links
/// are followed, without a trailing backslash; empty when it cannot be opened.
std::string FinalPath(const std::string& path)
{
    // Folders open for their attributes only with backup semantics.
    THandle h(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid())
        return {};
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = ::GetFinalPathNameByHandleA(h.Get(), buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof buffer)
        return {};
    std::string result(buffer, n);
    // "\\?\UNC\server\share" is "\\server\share", "\\?\C:\x" is "C:\x".
    if (result.rfind("\\\\?\\UNC\\", 0) == 0)
        result.erase(2, 6);
    else if (result.rfind("\\\\?\\", 0) == 0)
        result.erase(0, 4);
    while (result.size() > 3 && result.back() == '\\')
        result.pop_back();
    return result;
}

TResult TWindowsPlatform::ForceUserFolder(const std::string& path)
{
    if (path.empty())
        return TResult::Fail(TFailure::Unavailable, path, "no folder");
    if (DirectoryExists(path))
        return {};
    // A missing folder is made only inside the user's profile folder, named
    // in full, and also only when the part of it that exists does not lead
    // elsewhere through a junction or link.
    const std::string full = IsAbsolute(path) ? FullPath(path) : std::string();
    const std::string home = FullPath(ShellFolder(CSIDL_PROFILE));
    const TResult outside = TResult::Fail(TFailure::Unavailable, path,
                                          "the folder is missing, and it is not inside the home folder");
    if (full.empty() || home.empty() || full.size() <= home.size() || !IsWithin(full, home))
        return outside;
    std::string existing = full;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    while ((attributes = ::GetFileAttributesA(existing.c_str())) == INVALID_FILE_ATTRIBUTES &&
           existing.size() > home.size())
        existing = ParentFolder(existing);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return OsFailure(existing, ERROR_DIRECTORY);
    if (!IsWithin(FinalPath(existing), FinalPath(home)))
        return outside;
    return ForceDirectories(full);
}

std::string TWindowsPlatform::ExtractFileName(const std::string& path) const
{
    const size_t at = path.find_last_of("\\:/");
    return at == std::string::npos ? path : path.substr(at + 1);
}

void TWindowsPlatform::FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                                 bool recursive, bool clear)
{
    list.BeginUpdate();
    if (clear)
        list.Clear();
    std::string root = folder;
    while (root.size() > 3 && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    const DWORD attributes = root.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(root.c_str());
    // The folder itself must be a real folder, not a junction or link.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        std::string p = folder;
        if (p.back() != '\\')
            p += '\\';
        SearchFolder(p, mask, list, recursive, 0);
    }
    list.EndUpdate();
}

void TWindowsPlatform::SearchFolder(const std::string& p, const std::string& mask, TStringList& list,
                                    bool recursive, int depth)
{
    // Paths of more than MAX_PATH characters cannot be reached anyway; the
    // bound keeps a hostile tree from exhausting the stack.
    if (depth > 128)
        return;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((p + mask).c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            // File links are not photos of the card.
            if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
                list.Add(p + data.cFileName);
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    if (!recursive)
        return;
    std::vector<std::string> folders;
    find = ::FindFirstFileA((p + "*.*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            // Junctions and folder links are not entered: a loop must not hang the scan.
            const bool isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (isFolder && !isLink && std::strcmp(data.cFileName, ".") != 0 &&
                std::strcmp(data.cFileName, "..") != 0)
                folders.push_back(p + data.cFileName + "\\");
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    for (const std::string& sub : folders)
        SearchFolder(sub, mask, list, recursive, depth + 1);
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

/// Opens path for a read from the disk itself, past the system's cache. The
/// file may be open elsewhere, as the copy being verified is.
HANDLE OpenUncached(const std::string& path)
{
    return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

/// Compares the copy b with the original a, both read back from their disks.
TResult SameContent(const std::string& a, const std::string& b)
{
    THandle left(OpenUncached(a));
    if (!left.Valid())
        return LastFailure(a);
    THandle right(OpenUncached(b));
    if (!right.Valid())
        return LastFailure(b);
    TAlignedBuffer x(kCompareChunk);
    TAlignedBuffer y(kCompareChunk);
    if (x.Data() == nullptr || y.Data() == nullptr)
        return OsFailure(a, ERROR_NOT_ENOUGH_MEMORY);
    for (;;) {
        // Whole chunks: a read past the cache takes whole sectors.
        DWORD nx = 0;
        DWORD ny = 0;
        if (!::ReadFile(left.Get(), x.Data(), kCompareChunk, &nx, nullptr))
            return LastFailure(a);
        if (!::ReadFile(right.Get(), y.Data(), kCompareChunk, &ny, nullptr))
            return LastFailure(b);
        if (nx != ny || std::memcmp(x.Data(), y.Data(), nx) != 0)
            return TResult::Fail(TFailure::Mismatch, a, "the copy read back differs from the original");
        // A short chunk is the last: past it the position is no longer whole sectors.
        if (nx < kCompareChunk)
            return {};
    }
}

TResult TWindowsPlatform::SafeCopy(const std::string& src, const std::string& dst, bool verify)
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
    if (verify) {
        if (TResult same = SameContent(src, temp.Name()); !same)
            return same;
    }
    // Never replacing: the rename fails when dst exists.
    if (const DWORD error = temp.Rename(dst, false); error != ERROR_SUCCESS)
        return OsFailure(dst, error);
    return {};
}

TResult TWindowsPlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ERROR_FILE_NOT_FOUND);
    return SafeCopy(src, dst, false);
}

TResult TWindowsPlatform::MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept)
{
    if (src.empty() || dst.empty())
        return OsFailure(src.empty() ? src : dst, ERROR_FILE_NOT_FOUND);
    // Without MOVEFILE_COPY_ALLOWED a move to another drive fails instead of copying unchecked.
    if (::MoveFileExA(src.c_str(), dst.c_str(), MOVEFILE_WRITE_THROUGH))
        return {};
    const DWORD error = ::GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE)
        return OsFailure(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? dst : src, error);
    if (TResult copied = SafeCopy(src, dst, true); !copied)
        return copied;
    if (!::DeleteFileA(src.c_str())) {
        const DWORD deleteError = ::GetLastError();
        if (sourceKept != nullptr) {
            // A write-protected card: the verified copy stays, so does the photo.
            *sourceKept = OsFailure(src, deleteError);
            return {};
        }
        ::DeleteFileA(dst.c_str());
        return OsFailure(src, deleteError);
    }
    return {};
}

TResult TWindowsPlatform::SameFileContents(const std::string& a, const std::string& b, bool& same)
{
    for (const std::string* path : {&a, &b}) {
        const DWORD attributes =
            path->empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(path->c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return path->empty() ? OsFailure(*path, ERROR_FILE_NOT_FOUND) : LastFailure(*path);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return TResult::Fail(TFailure::NotSafe, *path, "not a regular file");
    }
    THandle left(::CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!left.Valid())
        return LastFailure(a);
    THandle right(::CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
    const DWORD folderAttributes =
        folder.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES)
        return folder.empty() ? OsFailure(folder, ERROR_PATH_NOT_FOUND) : LastFailure(folder);
    if ((folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return OsFailure(folder, ERROR_DIRECTORY);
    // Names first: the folder changes while they are removed.
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA(InFolder(folder, std::string(kTempPrefix) + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                IsTempName(data.cFileName))
                names.emplace_back(data.cFileName);
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    TResult result;
    for (const std::string& name : names) {
        const std::string path = InFolder(folder, name);
        // Opened exclusively, or not at all: a file that a copy or replacement
        // (of this or another process) is still writing is open, and stays.
        THandle h(::CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
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
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure(target);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return TResult::Fail(TFailure::NotSafe, target, "not a regular file");
    BY_HANDLE_FILE_INFORMATION info;
    {
        THandle old(::CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        if (!old.Valid() || !::GetFileInformationByHandle(old.Get(), &info))
            return LastFailure(target);
    }
    TTempFile temp;
    if (TResult made = temp.Create(ParentFolder(target)); !made)
        return made;
    for (const TDataPiece& piece : pieces) {
        if (piece.Size > 0 && !WriteAll(temp.Handle(), static_cast<const char*>(piece.Data), piece.Size))
            return LastFailure(target);
    }
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
    if (!::SetFileInformationByHandle(temp.Handle(), FileBasicInfo, &basic, sizeof basic) ||
        !::FlushFileBuffers(temp.Handle()))
        return LastFailure(target);
    if (const DWORD error = temp.Rename(target, true); error != ERROR_SUCCESS)
        return OsFailure(target, error);
    return {};
}

std::string TWindowsPlatform::DocumentsFolder()
{
    LPITEMIDLIST items = nullptr;
    if (::SHGetSpecialFolderLocation(nullptr, CSIDL_PERSONAL, &items) != S_OK || items == nullptr)
        return {};
    char buffer[MAX_PATH] = {};
    const bool found = ::SHGetPathFromIDListA(items, buffer) != FALSE;
    IMalloc* shellMalloc = nullptr;
    if (::SHGetMalloc(&shellMalloc) == S_OK && shellMalloc != nullptr) {
        shellMalloc->Free(items);
        shellMalloc->Release();
    }
    if (!found)
        return {};
    std::string result(buffer, ::strnlen(buffer, MAX_PATH));
    while (result.size() > 3 && result.back() == '\\')
        result.pop_back();
    return result;
}

TResult TWindowsPlatform::FileModifiedDate(const std::string& path, TLocalDate& date)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return LastFailure(path);
    FILETIME local;
    SYSTEMTIME parts;
    if (!::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToSystemTime(&local, &parts))
        return LastFailure(path);
    date.Year = parts.wYear;
    date.Month = parts.wMonth;
    date.Day = parts.wDay;
    return {};
}

TResult TWindowsPlatform::FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return LastFailure(path);
    // 100-nanosecond steps since 1601-01-01; 11644473600 seconds lie before 1970.
    const uint64_t ticks =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    seconds = static_cast<int64_t>(ticks / 10000000u) - int64_t{11644473600};
    nanoseconds = static_cast<int>(ticks % 10000000u) * 100;
    return {};
}

std::string TWindowsPlatform::StateFolder()
{
    const std::string local = ShellFolder(CSIDL_LOCAL_APPDATA);
    return local.empty() ? std::string() : JoinPath(local, "fotoimport");
}

TResult TWindowsPlatform::AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize)
{
    if (path.empty())
        return OsFailure(path, ERROR_PATH_NOT_FOUND);
    if (TResult made = ForceDirectories(ParentFolder(path)); !made)
        return made;
    WIN32_FILE_ATTRIBUTE_DATA data;
    const bool exists = ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) != 0;
    // The log is never written through a link, nor is a folder one.
    if (exists && (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return TResult::Fail(TFailure::NotSafe, path, "not a regular file");
    if (exists && ((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) >= maxSize) {
        const std::string older = path + ".1";
        if (!::MoveFileExA(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING))
            return LastFailure(older);
    }
    // The file inherits the state folder's permissions, the user's alone.
    THandle out(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!out.Valid() || !WriteAll(out.Get(), text.data(), text.size()))
        return LastFailure(path);
    return {};
}

int TWindowsPlatform::ProcessorCount()
{
    // The processors of this process's affinity mask, as the system may have limited it.
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    int count = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) != 0) {
        for (; process != 0; process &= process - 1)
            ++count;
    }
    return std::max(count, 1);
}

bool TWindowsPlatform::StderrIsTerminal()
{
    // A console, not any character device: "NUL" is one too.
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return err != nullptr && err != INVALID_HANDLE_VALUE && ::GetConsoleMode(err, &mode) != 0;
}

} // namespace

std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions&)
{
    // The settings describe Linux's sources of drives and folders; Windows asks the system.
    return std::make_unique<TWindowsPlatform>();
}

std::string UserKey()
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!::GetUserNameA(name, &size) || size == 0)
        return {};
    return std::string(name, ::strnlen(name, sizeof name));
}
