#include "platform/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <cstring>
#include <shlobj.h>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace {

constexpr DWORD kCompareChunk = 1u << 20;

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

/// Critical errors (a drive without medium) fail quietly while this lives.
class TQuietErrors
{
public:
    TQuietErrors()
        : FPrevious(::SetErrorMode(SEM_FAILCRITICALERRORS))
    {
    }
    ~TQuietErrors() { ::SetErrorMode(FPrevious); }
    TQuietErrors(const TQuietErrors&) = delete;
    TQuietErrors& operator=(const TQuietErrors&) = delete;

private:
    UINT FPrevious;
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
    explicit TWindowsPlatform(const TPlatformOptions& options)
        : FOptions(options)
    {
    }

    bool DriveIsReady(char letter) override;
    std::string DriveRoot(char letter) override;
    bool DirectoryExists(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    bool CreateDir(const std::string& path) override;
    bool ForceDirectories(const std::string& path) override;
    std::string ExtractFileName(const std::string& path) const override;
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear) override;
    bool CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    bool MovePhoto(const std::string& src, const std::string& dst) override;
    std::string DocumentsFolder() override;
    bool FileModifiedDate(const std::string& path, TLocalDate& date) override;
    char PathDelim() const override { return '\\'; }

private:
    void SearchFolder(const std::string& p, const std::string& mask, TStringList& list, bool recursive,
                      int depth);
    bool SafeCopy(const std::string& src, const std::string& dst, bool verify);
    bool SameContent(const std::string& a, const std::string& b);

    TPlatformOptions FOptions;
};

std::string TWindowsPlatform::DriveRoot(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z')
        return {};
    return std::string(1, letter) + ":\\";
}

bool TWindowsPlatform::DriveIsReady(char letter)
{
    const std::string root = DriveRoot(letter);
    if (root.empty())
        return false;
    TQuietErrors quiet;
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    ULARGE_INTEGER totalFree;
    return ::GetDiskFreeSpaceExA(root.c_str(), &available, &total, &totalFree) != 0;
}

bool TWindowsPlatform::DirectoryExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool TWindowsPlatform::FileExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool TWindowsPlatform::CreateDir(const std::string& path)
{
    return !path.empty() && ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool TWindowsPlatform::ForceDirectories(const std::string& path)
{
    if (path.empty())
        return false;
    std::string trimmed = path;
    while (trimmed.size() > 3 && (trimmed.back() == '\\' || trimmed.back() == '/'))
        trimmed.pop_back();
    if (DirectoryExists(trimmed))
        return true;
    const std::string parent = ParentFolder(trimmed);
    if (parent != trimmed && parent != "." && !ForceDirectories(parent))
        return false;
    return ::CreateDirectoryA(trimmed.c_str(), nullptr) != 0 || DirectoryExists(trimmed);
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
    if (!folder.empty()) {
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
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
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

bool TWindowsPlatform::SameContent(const std::string& a, const std::string& b)
{
    if (FOptions.CorruptReadBack)
        return false;
    THandle left(::CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    THandle right(::CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!left.Valid() || !right.Valid())
        return false;
    std::vector<char> x(kCompareChunk);
    std::vector<char> y(kCompareChunk);
    for (;;) {
        DWORD nx = 0;
        DWORD ny = 0;
        if (!ReadChunk(left.Get(), x.data(), kCompareChunk, nx) ||
            !ReadChunk(right.Get(), y.data(), kCompareChunk, ny))
            return false;
        if (nx != ny || std::memcmp(x.data(), y.data(), nx) != 0)
            return false;
        if (nx == 0)
            return true;
    }
}

bool TWindowsPlatform::SafeCopy(const std::string& src, const std::string& dst, bool verify)
{
    const std::string folder = ParentFolder(dst);
    char tempName[MAX_PATH + 1] = {};
    if (::GetTempFileNameA(folder.c_str(), "fi", 0, tempName) == 0)
        return false;
    TTempFile temp(tempName);
    // The temporary name is ours, so it may be replaced; the final name never is.
    if (!::CopyFileA(src.c_str(), temp.Name().c_str(), FALSE))
        return false;
    {
        THandle h(::CreateFileA(temp.Name().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!h.Valid() || !::FlushFileBuffers(h.Get()))
            return false;
    }
    if (verify && !SameContent(src, temp.Name()))
        return false;
    // Without MOVEFILE_REPLACE_EXISTING the rename fails when dst exists.
    if (!::MoveFileExA(temp.Name().c_str(), dst.c_str(), MOVEFILE_WRITE_THROUGH))
        return false;
    temp.Keep();
    return true;
}

bool TWindowsPlatform::CopyNoOverwrite(const std::string& src, const std::string& dst)
{
    return !src.empty() && !dst.empty() && FOptions.FailCopyAfterBytes < 0 && SafeCopy(src, dst, false);
}

bool TWindowsPlatform::MovePhoto(const std::string& src, const std::string& dst)
{
    if (src.empty() || dst.empty() || FOptions.FailCopyAfterBytes >= 0)
        return false;
    if (!FOptions.ForceCrossDeviceMove) {
        // Without MOVEFILE_COPY_ALLOWED a move to another drive fails instead of copying unchecked.
        if (::MoveFileExA(src.c_str(), dst.c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        if (::GetLastError() != ERROR_NOT_SAME_DEVICE)
            return false;
    }
    if (!SafeCopy(src, dst, true))
        return false;
    if (!::DeleteFileA(src.c_str())) {
        ::DeleteFileA(dst.c_str());
        return false;
    }
    return true;
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

bool TWindowsPlatform::FileModifiedDate(const std::string& path, TLocalDate& date)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    FILETIME local;
    SYSTEMTIME parts;
    if (!::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToSystemTime(&local, &parts))
        return false;
    date.Year = parts.wYear;
    date.Month = parts.wMonth;
    date.Day = parts.wDay;
    return true;
}

} // namespace

std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options)
{
    return std::make_unique<TWindowsPlatform>(options);
}
