#include "platform/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <cstdint>
#include <cstring>
#include <memory>
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
    explicit THandle(HANDLE h)
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

private:
    HANDLE FHandle;
};

/// Removes a temporary file unless the caller keeps it.
class TTempFile
{
public:
    explicit TTempFile(std::string name)
        : FName(std::move(name))
    {
    }
    ~TTempFile()
    {
        if (!FName.empty())
            ::DeleteFileA(FName.c_str());
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const { return FName; }
    void Keep() { FName.clear(); }

private:
    std::string FName;
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

/// A fresh temporary file in folder, created empty by the system ("fi" and a
/// number, ".tmp"). Copies and replaced files both take their temporary names
/// from here. The returned guard removes the file unless it is kept.
TResult MakeTempBeside(const std::string& folder, std::unique_ptr<TTempFile>& temp)
{
    char tempName[MAX_PATH + 1] = {};
    if (::GetTempFileNameA(folder.c_str(), "fi", 0, tempName) == 0)
        return LastFailure(folder);
    temp = std::make_unique<TTempFile>(tempName);
    return {};
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
    std::string DocumentsFolder() override;
    TResult FileModifiedDate(const std::string& path, TLocalDate& date) override;
    TResult FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds) override;
    std::string StateFolder() override;
    TResult AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize) override;
    bool StderrIsTerminal() override;
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
    if (root.empty() || name.empty() || name == "." || name == ".." ||
        name.find_first_of("\\/") != std::string::npos)
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

TResult TWindowsPlatform::ForceUserFolder(const std::string& path)
{
    if (path.empty())
        return TResult::Fail(TFailure::Unavailable, path, "no folder");
    if (DirectoryExists(path))
        return {};
    // A missing folder is made only inside the user's profile folder.
    const std::string full = FullPath(path);
    const std::string home = FullPath(ShellFolder(CSIDL_PROFILE));
    const bool inside = !full.empty() && !home.empty() && full.size() > home.size() &&
                        SameTextNoCase(full, home, home.size()) &&
                        (full[home.size()] == '\\' || full[home.size()] == '/');
    if (!inside)
        return TResult::Fail(TFailure::Unavailable, path,
                             "the folder is missing, and it is not inside the home folder");
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

/// Compares the copy b with the original a, both opened afresh.
TResult SameContent(const std::string& a, const std::string& b)
{
    THandle left(::CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!left.Valid())
        return LastFailure(a);
    THandle right(::CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!right.Valid())
        return LastFailure(b);
    std::vector<char> x(kCompareChunk);
    std::vector<char> y(kCompareChunk);
    for (;;) {
        DWORD nx = 0;
        DWORD ny = 0;
        if (!ReadChunk(left.Get(), x.data(), kCompareChunk, nx))
            return LastFailure(a);
        if (!ReadChunk(right.Get(), y.data(), kCompareChunk, ny))
            return LastFailure(b);
        if (nx != ny || std::memcmp(x.data(), y.data(), nx) != 0)
            return TResult::Fail(TFailure::Mismatch, a, "the copy read back differs from the original");
        if (nx == 0)
            return {};
    }
}

TResult TWindowsPlatform::SafeCopy(const std::string& src, const std::string& dst, bool verify)
{
    std::unique_ptr<TTempFile> temp;
    if (TResult made = MakeTempBeside(ParentFolder(dst), temp); !made)
        return made;
    // The temporary name is ours, so it may be replaced; the final name never is.
    if (!::CopyFileA(src.c_str(), temp->Name().c_str(), FALSE)) {
        const DWORD error = ::GetLastError();
        const bool targetSide = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
                                error == kDiskQuotaExceeded || error == ERROR_WRITE_PROTECT;
        return OsFailure(targetSide ? dst : src, error);
    }
    {
        THandle h(::CreateFileA(temp->Name().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h.Valid() || !::FlushFileBuffers(h.Get()))
            return LastFailure(dst);
    }
    if (verify) {
        if (TResult same = SameContent(src, temp->Name()); !same)
            return same;
    }
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when dst exists.
    if (!::MoveFileExA(temp->Name().c_str(), dst.c_str(), MOVEFILE_WRITE_THROUGH))
        return LastFailure(dst);
    temp->Keep();
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

TResult TWindowsPlatform::ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces)
{
    if (target.empty())
        return OsFailure(target, ERROR_FILE_NOT_FOUND);
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return LastFailure(target);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return TResult::Fail(TFailure::NotSafe, target, "not a regular file");
    FILETIME created;
    FILETIME accessed;
    FILETIME written;
    {
        THandle old(::CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
        if (!old.Valid() || !::GetFileTime(old.Get(), &created, &accessed, &written))
            return LastFailure(target);
    }
    std::unique_ptr<TTempFile> temp;
    if (TResult made = MakeTempBeside(ParentFolder(target), temp); !made)
        return made;
    {
        THandle out(::CreateFileA(temp->Name().c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.Valid())
            return LastFailure(target);
        for (const TDataPiece& piece : pieces) {
            const char* data = static_cast<const char*>(piece.Data);
            size_t left = piece.Size;
            while (left > 0) {
                const DWORD chunk = left > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(left);
                DWORD done = 0;
                if (!::WriteFile(out.Get(), data, chunk, &done, nullptr) || done == 0)
                    return LastFailure(target);
                data += done;
                left -= done;
            }
        }
        // Times set after the last write stay as set when the handle closes.
        if (!::SetFileTime(out.Get(), &created, &accessed, &written) || !::FlushFileBuffers(out.Get()))
            return LastFailure(target);
    }
    // The attributes stand for the permissions: a read-only photo stays read-only.
    if (!::SetFileAttributesA(temp->Name().c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes))
        return LastFailure(target);
    if (!::MoveFileExA(temp->Name().c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::SetFileAttributesA(temp->Name().c_str(), FILE_ATTRIBUTE_NORMAL);
        return OsFailure(target, error);
    }
    temp->Keep();
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
    if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
        ((uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) >= maxSize) {
        const std::string older = path + ".1";
        if (!::MoveFileExA(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING))
            return LastFailure(older);
    }
    THandle out(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.Valid())
        return LastFailure(path);
    const char* next = text.data();
    size_t left = text.size();
    while (left > 0) {
        const DWORD chunk = left > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!::WriteFile(out.Get(), next, chunk, &done, nullptr) || done == 0)
            return LastFailure(path);
        next += done;
        left -= done;
    }
    return {};
}

bool TWindowsPlatform::StderrIsTerminal()
{
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    return err != nullptr && err != INVALID_HANDLE_VALUE && ::GetFileType(err) == FILE_TYPE_CHAR;
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
