#include "platform/linux/LinuxPlatform.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int TFd::Close()
{
    if (FFd < 0)
        return 0;
    const int result = ::close(FFd);
    FFd = -1;
    // After EINTR the descriptor is gone on Linux as well; only a real error counts.
    return result != 0 && errno != EINTR ? errno : 0;
}

TTempFile::~TTempFile()
{
    if (!FName.empty())
        ::unlink(FName.c_str());
}

TFailure FailureOfError(int error)
{
    switch (error) {
    case 0:
        return TFailure::None;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return TFailure::NoSpace;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return TFailure::Access;
    case ENOENT:
    case ENOTDIR:
        return TFailure::NotFound;
    case EEXIST:
    case ENOTEMPTY:
        return TFailure::Exists;
    case EIO:
        return TFailure::Io;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ENOTCONN:
    case ESTALE:
        return TFailure::Unavailable;
    case ELOOP:
        return TFailure::NotSafe;
    case EISDIR:
    case EOPNOTSUPP:
    case ENAMETOOLONG:
        return TFailure::Unsupported;
    default:
        return TFailure::Other;
    }
}

TResult OsFailure(const std::string& path, int error)
{
    char buffer[256];
    // The GNU strerror_r: thread-safe, and gives the text even for unknown numbers.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return TResult::Fail(FailureOfError(error), path, text, error);
}

std::string ParentFolder(const std::string& path)
{
    const size_t at = path.find_last_of('/');
    if (at == std::string::npos)
        return ".";
    if (at == 0)
        return "/";
    return path.substr(0, at);
}

TResult SyncFolder(const std::string& folder)
{
    TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid() || ::fsync(dir.Get()) != 0)
        return OsFailure(folder, errno);
    return {};
}

TLinuxPlatform::TLinuxPlatform(const TPlatformOptions& options)
    : FOptions(options)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    FFileMode = static_cast<mode_t>(0666 & ~mask);
}

bool TLinuxPlatform::DirectoryExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool TLinuxPlatform::FileExists(const std::string& path)
{
    // lstat: a dangling link still occupies the name.
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

TResult TLinuxPlatform::CreateDir(const std::string& path)
{
    if (path.empty())
        return OsFailure(path, ENOENT);
    if (::mkdir(path.c_str(), 0777) != 0)
        return OsFailure(path, errno);
    return {};
}

TResult TLinuxPlatform::ForceDirectories(const std::string& path)
{
    if (path.empty())
        return OsFailure(path, ENOENT);
    if (DirectoryExists(path))
        return {};
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string parent = ParentFolder(trimmed);
    if (parent != trimmed) {
        if (TResult made = ForceDirectories(parent); !made)
            return made;
    }
    if (::mkdir(trimmed.c_str(), 0777) == 0)
        return {};
    const int error = errno;
    if (error == EEXIST && DirectoryExists(trimmed))
        return {};
    // A file in the way is not a folder: say so rather than "exists".
    return OsFailure(trimmed, error == EEXIST ? ENOTDIR : error);
}

TResult TLinuxPlatform::FileModifiedDate(const std::string& path, TLocalDate& date)
{
    struct stat st;
    if (path.empty())
        return OsFailure(path, ENOENT);
    if (::stat(path.c_str(), &st) != 0)
        return OsFailure(path, errno);
    std::tm local{};
    const time_t t = st.st_mtime;
    if (::localtime_r(&t, &local) == nullptr)
        return OsFailure(path, EOVERFLOW);
    date.Year = local.tm_year + 1900;
    date.Month = local.tm_mon + 1;
    date.Day = local.tm_mday;
    return {};
}

std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options)
{
    return std::make_unique<TLinuxPlatform>(options);
}
