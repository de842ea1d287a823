#include "platform/windows/WindowsPlatform.h"

#include <vector>

namespace {

/// The entries of the folder p (ending in a backslash) whose names match pattern, each given to take
/// with its name and attributes.
/// A folder that cannot be read (other than one with no match, or one that has gone) is added to
/// unreadable with the system's reason.
template <typename TTake>
void ForEachEntry(const std::string& p, const std::string& pattern, TTake take,
                  std::vector<TResult>* unreadable)
{
    // The pattern is added after the folder's clean-up, which would take a trailing dot off it.
    const std::wstring folder = LongPath(p);
    const std::wstring wildcard = Wide(pattern);
    if (folder.empty() || wildcard.empty())
        return;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + wildcard).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (unreadable != nullptr && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
            error != ERROR_NO_MORE_FILES)
            unreadable->push_back(OsFailure(p, error));
        return;
    }
    do {
        take(Utf8(data.cFileName), data.dwFileAttributes);
    } while (::FindNextFileW(find, &data));
    const DWORD error = ::GetLastError();
    if (unreadable != nullptr && error != ERROR_NO_MORE_FILES)
        unreadable->push_back(OsFailure(p, error));
    ::FindClose(find);
}

} // namespace

void TWindowsPlatform::FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                                 bool recursive, bool clear, std::vector<TResult>* unreadable)
{
    list.BeginUpdate();
    if (clear)
        list.Clear();
    std::string root = folder;
    while (root.size() > 3 && (root.back() == '\\' || root.back() == '/'))
        root.pop_back();
    const DWORD attributes = Attributes(root);
    // The folder itself must be a real folder, not a junction or link.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        SearchFolder(root.back() == '\\' || root.back() == '/' ? root : root + '\\', mask, list, recursive, 0,
                     unreadable);
    list.EndUpdate();
}

void TWindowsPlatform::SearchFolder(const std::string& p, const std::string& mask, TStringList& list,
                                    bool recursive, int depth, std::vector<TResult>* unreadable)
{
    // The bound keeps a hostile tree from exhausting the stack.
    if (depth > 128)
        return;
    ForEachEntry(
        p, mask,
        [&](const std::string& name, DWORD attributes) {
            // File links are not photos of the card.
            if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
                list.Add(p + name);
        },
        unreadable);
    if (!recursive)
        return;
    std::vector<std::string> folders;
    ForEachEntry(
        p, "*",
        [&](const std::string& name, DWORD attributes) {
            // Junctions and folder links are not entered: a loop must not hang the scan.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && name != "." && name != "..")
                folders.push_back(p + name + "\\");
        },
        unreadable);
    for (const std::string& sub : folders)
        SearchFolder(sub, mask, list, recursive, depth + 1, unreadable);
}
