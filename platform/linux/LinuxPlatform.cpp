#include "platform/linux/LinuxPlatform.h"

#include "platform/LiveTemporaries.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
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
    TLiveTemporaries::Remove(FName);
}

void TTempFile::Set(std::string name)
{
    TLiveTemporaries::Remove(FName);
    FName = std::move(name);
    TLiveTemporaries::Add(FName);
}

void TTempFile::Keep()
{
    TLiveTemporaries::Remove(FName);
    FName.clear();
}

void TLinuxPlatform::AbandonTemporaries()
{
    for (const std::string& name : TLiveTemporaries::TakeAll())
        ::unlink(name.c_str());
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

bool WriteAll(int fd, const char* data, size_t count)
{
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
    }
    return true;
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
    , FDeviceCalls(options.DevicePatience, kDeviceAnswerAge)
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

bool TLinuxPlatform::CardFolderExists(const std::string& root, const std::string& name)
{
    if (root.empty() || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
    // lstat for the folder: a link is not the card's own folder, wherever it points.
    struct stat rootInfo;
    struct stat st;
    return ::stat(root.c_str(), &rootInfo) == 0 && S_ISDIR(rootInfo.st_mode) &&
           ::lstat(JoinPath(root, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_dev == rootInfo.st_dev;
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

TResult TLinuxPlatform::RemoveEmptyFolder(const std::string& path)
{
    if (::rmdir(path.c_str()) != 0)
        return OsFailure(path, errno);
    return {};
}

TResult MakeFolders(const std::string& path, mode_t mode)
{
    if (path.empty())
        return OsFailure(path, ENOENT);
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return {};
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::string parent = ParentFolder(trimmed);
    if (parent != trimmed) {
        if (TResult made = MakeFolders(parent, mode); !made)
            return made;
    }
    if (::mkdir(trimmed.c_str(), mode) == 0)
        return {};
    const int error = errno;
    if (error == EEXIST && ::stat(trimmed.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return {};
    // A file in the way is not a folder: say so rather than "exists".
    return OsFailure(trimmed, error == EEXIST ? ENOTDIR : error);
}

TResult TLinuxPlatform::ForceDirectories(const std::string& path)
{
    return MakeFolders(path, 0777);
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

TResult TLinuxPlatform::FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds)
{
    struct stat st;
    if (path.empty())
        return OsFailure(path, ENOENT);
    if (::stat(path.c_str(), &st) != 0)
        return OsFailure(path, errno);
    seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    nanoseconds = static_cast<int>(st.st_mtim.tv_nsec);
    return {};
}

std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options)
{
    return std::make_unique<TLinuxPlatform>(options);
}

int TLinuxPlatform::ProcessorCount()
{
    // The processors of this process's affinity (taskset, a container's cpuset), not all the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(CPU_COUNT(&set), 1);
    return std::max(static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN)), 1);
}

namespace {

volatile std::sig_atomic_t gEndRequested = 0;

extern "C" void NoteEndRequest(int)
{
    gEndRequested = 1;
}

} // namespace

void TLinuxPlatform::CatchEndRequests()
{
    struct sigaction action
    {
    };
    action.sa_handler = NoteEndRequest;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

bool TLinuxPlatform::EndRequested()
{
    return gEndRequested != 0;
}
