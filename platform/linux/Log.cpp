#include "platform/linux/LinuxPlatform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TResult TLinuxPlatform::AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize)
{
    if (path.empty())
        return OsFailure(path, ENOENT);
    // The log names the user's photos and folders: for the user's eyes only.
    if (TResult made = MakeFolders(ParentFolder(path), 0700); !made)
        return made;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) >= maxSize) {
        const std::string older = path + ".1";
        if (::rename(path.c_str(), older.c_str()) != 0)
            return OsFailure(older, errno);
    }
    TFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!fd.Valid())
        return OsFailure(path, errno);
    if (!WriteAll(fd.Get(), text.data(), text.size()))
        return OsFailure(path, errno);
    if (const int error = fd.Close(); error != 0)
        return OsFailure(path, error);
    return {};
}

bool TLinuxPlatform::StderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}
