#include "platform/windows/WindowsPlatform.h"

#include <shlobj.h>

namespace {

/// The shell's known folder id without a trailing backslash; empty when unknown.
std::string KnownFolder(REFKNOWNFOLDERID id)
{
    wchar_t* path = nullptr;
    std::string result;
    if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path != nullptr)
        result = Utf8(path, wcslen(path));
    ::CoTaskMemFree(path);
    while (result.size() > 3 && result.back() == '\\')
        result.pop_back();
    return result;
}

/// path without trailing separators (a drive's root keeps its own).
std::string Trimmed(std::string path)
{
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

/// The absolute form of path with "." and ".." resolved; empty when it cannot be.
std::string FullPath(const std::string& path)
{
    const std::wstring wide = Wide(path);
    if (wide.empty())
        return {};
    std::wstring full(wide.size() + 1, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return {};
        if (n < full.size()) {
            full.resize(n);
            return Trimmed(Utf8(full));
        }
        full.resize(n);
    }
}

/// Whether path is folder or lies below it (both absolute; names compared as
/// the file system compares them, without regard to case).
bool IsWithin(const std::string& path, const std::string& folder)
{
    const std::wstring p = Wide(path);
    const std::wstring f = Wide(folder);
    if (f.empty() || p.size() < f.size())
        return false;
    const int n = static_cast<int>(f.size());
    if (::CompareStringOrdinal(p.data(), n, f.data(), n, TRUE) != CSTR_EQUAL)
        return false;
    return p.size() == f.size() || p[f.size()] == L'\\' || f.back() == L'\\';
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
    THandle h(::CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.Valid())
        return {};
    std::wstring final(64, L'\0');
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(h.Get(), final.data(), static_cast<DWORD>(final.size()),
                                                    FILE_NAME_NORMALIZED);
        if (n == 0)
            return {};
        if (n < final.size()) {
            final.resize(n);
            break;
        }
        final.resize(n); // too small: n counts the terminating NUL as well
    }
    std::string result = Utf8(final);
    // "\\?\UNC\server\share" is "\\server\share", "\\?\C:\x" is "C:\x".
    if (result.rfind("\\\\?\\UNC\\", 0) == 0)
        result.erase(2, 6);
    else if (result.rfind("\\\\?\\", 0) == 0)
        result.erase(0, 4);
    while (result.size() > 3 && result.back() == '\\')
        result.pop_back();
    return result;
}

} // namespace

std::string TWindowsPlatform::DocumentsFolder()
{
    return KnownFolder(FOLDERID_Documents);
}

std::string TWindowsPlatform::StateFolder()
{
    const std::string local = KnownFolder(FOLDERID_LocalAppData);
    return local.empty() ? std::string() : JoinPath(local, "fotoimport");
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
    const std::string home = FullPath(FHomeFolder.empty() ? KnownFolder(FOLDERID_Profile) : FHomeFolder);
    const TResult outside = TResult::Fail(TFailure::Unavailable, path,
                                          "the folder is missing, and it is not inside the home folder");
    if (full.empty() || home.empty() || full.size() <= home.size() || !IsWithin(full, home))
        return outside;
    std::string existing = full;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    while ((attributes = Attributes(existing)) == INVALID_FILE_ATTRIBUTES && existing.size() > home.size())
        existing = ParentFolder(existing);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return OsFailure(existing, ERROR_DIRECTORY);
    if (!IsWithin(FinalPath(existing), FinalPath(home)))
        return outside;
    return ForceDirectories(full);
}
