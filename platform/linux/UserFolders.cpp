#include "platform/linux/LinuxPlatform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

/// The path with every link and "." or ".." resolved; empty when it cannot be.
std::string Resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

/// Whether path lies in folder or is folder itself; both resolved.
bool IsInside(const std::string& path, const std::string& folder)
{
    if (path.empty() || folder.empty())
        return false;
    if (folder == "/")
        return true;
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
}

} // namespace

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

TResult TLinuxPlatform::ForceUserFolder(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return TResult::Fail(TFailure::Unavailable, path, "no absolute folder");
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    if (DirectoryExists(trimmed))
        return {};
    // The deepest part of the path that is there, and the names missing below it.
    std::string existing = trimmed;
    std::vector<std::string> missing;
    for (;;) {
        struct stat st;
        if (::lstat(existing.c_str(), &st) == 0)
            break;
        if (errno != ENOENT)
            return OsFailure(existing, errno);
        const std::string parent = ParentFolder(existing);
        std::string name = existing.substr(parent == "/" ? 1 : parent.size() + 1);
        // Names that lead up again could leave the home folder after its test.
        if (name.empty() || name == "." || name == "..")
            return TResult::Fail(TFailure::Unavailable, trimmed, "the folder's path is not plain");
        missing.push_back(std::move(name));
        existing = parent;
    }
    if (!DirectoryExists(existing)) {
        struct stat st;
        if (::lstat(existing.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return TResult::Fail(TFailure::Unavailable, existing, "a link to a folder that is not there");
        return OsFailure(existing, ENOTDIR); // a file is in the way
    }
    // A missing folder is made only inside the home folder. Elsewhere it
    // stands for a disk that is not attached, and its mount point is no
    // place for the photos.
    if (!IsInside(Resolved(existing), Resolved(HomeFolder())))
        return TResult::Fail(TFailure::Unavailable, trimmed,
                             "the folder is missing, and it is not inside the home folder");
    std::string made = existing;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        made = JoinPath(made, *it);
        if (::mkdir(made.c_str(), 0777) != 0 && !(errno == EEXIST && DirectoryExists(made)))
            return OsFailure(made, errno);
    }
    return {};
}

std::string TLinuxPlatform::StateFolder()
{
    std::string state = FOptions.StateHome;
    if (state.empty()) {
        if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
            state = xdg;
        else if (const std::string home = HomeFolder(); !home.empty())
            state = home + "/.local/state";
    }
    return state.empty() ? std::string() : JoinPath(state, "fotoimport");
}

std::string UserKey()
{
    return std::to_string(::getuid());
}
