#include "platform/windows/WindowsPlatform.h"

#include <climits>
#include <utility>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

std::wstring Wide(const std::string& text)
{
    if (text.empty() || text.size() > INT_MAX)
        return {};
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
    return wide;
}

std::string Utf8(const wchar_t* text, size_t size)
{
    if (text == nullptr || size == 0 || size > INT_MAX)
        return {};
    const int count = static_cast<int>(size);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, count, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::string Utf8(const std::wstring& text)
{
    return Utf8(text.data(), text.size());
}

std::wstring LongPath(const std::string& path)
{
    // A name with a NUL in it would end early and name another file.
    if (path.find('\0') != std::string::npos)
        return {};
    std::wstring wide = Wide(path);
    if (wide.empty() || StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\"))
        return wide;
    // The prefix turns the system's own clean-up of names off, so it is done
    // first, as the system would do it: "/" becomes "\", "." and ".." are
    // resolved, a relative path is made absolute.
    std::wstring full(wide.size() + 1, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return wide;
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n); // too small: n counts the terminating NUL as well
    }
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\"))
        return full; // a device, such as "NUL"
    if (StartsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    return full;
}

DWORD Attributes(const std::string& path)
{
    const std::wstring name = LongPath(path);
    if (name.empty()) {
        ::SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    return ::GetFileAttributesW(name.c_str());
}

TFailure FailureOfError(DWORD error)
{
    /// ERROR_DISK_QUOTA_EXCEEDED, which not every SDK's headers name.
    constexpr DWORD kDiskQuotaExceeded = 1295;
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

TResult OsFailure(const std::string& path, DWORD error)
{
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = Utf8(buffer, n);
    if (buffer != nullptr)
        ::LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        text = "error " + std::to_string(error);
    return TResult::Fail(FailureOfError(error), path, std::move(text), static_cast<int>(error));
}

TResult LastFailure(const std::string& path)
{
    return OsFailure(path, ::GetLastError());
}

std::string ParentFolder(const std::string& path)
{
    const size_t at = path.find_last_of("\\/");
    if (at == std::string::npos)
        return ".";
    if (at == 0 || (at == 2 && path[1] == ':'))
        return path.substr(0, at + 1);
    return path.substr(0, at);
}

std::string InFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
        return folder + name;
    return folder + "\\" + name;
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

bool TWindowsPlatform::DirectoryExists(const std::string& path)
{
    const DWORD attributes = Attributes(path);
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
    const DWORD attributes = Attributes(JoinPath(root, name));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool TWindowsPlatform::FileExists(const std::string& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TResult TWindowsPlatform::CreateDir(const std::string& path)
{
    if (path.empty())
        return OsFailure(path, ERROR_PATH_NOT_FOUND);
    if (!::CreateDirectoryW(LongPath(path).c_str(), nullptr))
        return LastFailure(path);
    return {};
}

TResult TWindowsPlatform::RemoveEmptyFolder(const std::string& path)
{
    if (path.empty() || !::RemoveDirectoryW(LongPath(path).c_str()))
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
    if (::CreateDirectoryW(LongPath(trimmed).c_str(), nullptr) || DirectoryExists(trimmed))
        return {};
    const DWORD error = ::GetLastError();
    // A file in the way is not a folder: say so rather than "exists".
    return OsFailure(trimmed, error == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : error);
}

TResult TWindowsPlatform::FileModifiedDate(const std::string& path, TLocalDate& date)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data))
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
    if (!::GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data))
        return LastFailure(path);
    // 100-nanosecond steps since 1601-01-01; 11644473600 seconds lie before 1970.
    const uint64_t ticks =
        (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    seconds = static_cast<int64_t>(ticks / 10000000u) - int64_t{11644473600};
    nanoseconds = static_cast<int>(ticks % 10000000u) * 100;
    return {};
}

std::string TWindowsPlatform::ExtractFileName(const std::string& path) const
{
    const size_t at = path.find_last_of("\\:/");
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options)
{
    // The other settings describe Linux's sources of drives and folders; Windows asks the system.
    return std::make_unique<TWindowsPlatform>(options.HomeFolder);
}

std::string UserKey()
{
    DWORD size = 0;
    ::GetUserNameW(nullptr, &size);
    if (size == 0)
        return {};
    std::wstring name(size, L'\0');
    // On success size counts the characters with the terminating NUL.
    if (!::GetUserNameW(name.data(), &size) || size <= 1)
        return {};
    name.resize(size - 1);
    return Utf8(name);
}
