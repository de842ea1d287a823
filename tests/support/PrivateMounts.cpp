#include "tests/support/PrivateMounts.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Debian's python3-fusepy is installed for Debian's own interpreter.
const char* const kPython = "/usr/bin/python3";
const char* const kExfatFuse = "/sbin/mount.exfat-fuse";

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

/// Starts the program args[0] with its arguments as a child that is ended
/// (SIGTERM) when this process dies; its output goes to the file quiet when
/// given. The child's id, or -1.
pid_t Spawn(std::vector<std::string> args, const char* quiet = nullptr)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (quiet != nullptr) {
            const int out = ::open(quiet, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

/// The output of a shell command and whether it ran without error.
bool Run(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return false;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return ::pclose(pipe) == 0;
}

/// Waits up to timeout for the process to end; true when it has.
bool Reap(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

bool TPrivateMounts::Enter(std::string& why)
{
    static bool entered = false;
    static std::string failure;
    if (!entered && failure.empty()) {
        if (::unshare(CLONE_NEWNS) != 0)
            failure = Errno("cannot enter a private mount namespace (needs root)");
        else if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            failure = Errno("cannot make the mounts private");
        else
            entered = true;
    }
    why = failure;
    return entered;
}

bool TPrivateMounts::FuseAvailable(std::string& why)
{
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        why = Errno("no /dev/fuse");
        return false;
    }
    const std::string probe = std::string(kPython) + " -c 'import fusepy' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        why = std::string(kPython) + " cannot import fusepy (Debian package python3-fusepy)";
        return false;
    }
    return true;
}

bool TPrivateMounts::ExfatAvailable(std::string& why)
{
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        why = Errno("no /dev/fuse");
        return false;
    }
    if (::access(kExfatFuse, X_OK) != 0 || ::access("/sbin/mkfs.exfat", X_OK) != 0) {
        why = "no exfat-fuse or mkfs.exfat (Debian packages exfat-fuse, exfatprogs)";
        return false;
    }
    if (::access("/dev/loop-control", R_OK | W_OK) != 0) {
        why = Errno("no loop devices (/dev/loop-control)");
        return false;
    }
    return true;
}

TPrivateMounts::~TPrivateMounts()
{
    for (auto it = FMounts.rbegin(); it != FMounts.rend(); ++it) {
        ::umount2(it->Folder.c_str(), MNT_DETACH);
        if (it->Server > 0 && !Reap(it->Server, std::chrono::seconds(5))) {
            ::kill(it->Server, SIGKILL);
            Reap(it->Server, std::chrono::seconds(5));
        }
    }
}

bool TPrivateMounts::Tmpfs(const std::string& folder, size_t bytes, std::string& why)
{
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        why = Errno("cannot mount a tmpfs at " + folder);
        return false;
    }
    FMounts.push_back({folder, -1});
    return true;
}

bool TPrivateMounts::Bind(const std::string& source, const std::string& target, std::string& why)
{
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        why = Errno("cannot bind " + source + " to " + target);
        return false;
    }
    FMounts.push_back({target, -1});
    return true;
}

bool TPrivateMounts::SetReadOnly(const std::string& folder, bool readOnly, std::string& why)
{
    const unsigned long flags = MS_REMOUNT | MS_BIND | (readOnly ? MS_RDONLY : 0);
    if (::mount(nullptr, folder.c_str(), nullptr, flags, nullptr) != 0) {
        why = Errno("cannot remount " + folder);
        return false;
    }
    return true;
}

bool TPrivateMounts::Exfat(const std::string& folder, size_t bytes, std::string& why)
{
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const std::string image = folder + ".img";
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool sized = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    if (!sized)
        why = Errno("cannot make the image " + image);
    if (fd >= 0)
        ::close(fd);
    if (!sized)
        return false;
    std::string output;
    if (!Run("/sbin/mkfs.exfat '" + image + "'", output)) {
        why = "mkfs.exfat failed: " + output;
        return false;
    }
    std::string device;
    if (!Run("losetup --find --show '" + image + "'", device) || device.rfind("/dev/loop", 0) != 0) {
        why = "losetup failed: " + device;
        return false;
    }
    // Debug output keeps exfat-fuse in the foreground, as a child of this process.
    struct stat before;
    ::stat(folder.c_str(), &before);
    const pid_t pid = Spawn({kExfatFuse, "-d", device, folder}, "/dev/null");
    bool mounted = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid > 0 && !mounted && std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            break;
        struct stat now;
        mounted = ::stat(folder.c_str(), &now) == 0 && now.st_dev != before.st_dev;
        if (!mounted)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Detached now, the loop device goes as soon as exfat-fuse lets go of it, however this process ends.
    Run("losetup --detach " + device, output);
    if (!mounted) {
        why = "exfat-fuse did not mount " + device + " at " + folder;
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            Reap(pid, std::chrono::seconds(5));
        }
        return false;
    }
    FMounts.push_back({folder, pid});
    return true;
}

bool TPrivateMounts::Fuse(const std::string& source, const std::string& folder,
                          const std::vector<std::string>& options, std::string& why)
{
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const std::string ready = folder + ".ready";
    fs::remove(ready, ignored);
    std::vector<std::string> args = {
        kPython, std::string(FI_SOURCE_DIR) + "/tests/support/faultfs.py", source, folder, "--ready", ready};
    args.insert(args.end(), options.begin(), options.end());
    // The server goes (and unmounts) when the test process dies.
    const pid_t pid = Spawn(std::move(args));
    if (pid < 0) {
        why = Errno("fork");
        return false;
    }
    FMounts.push_back({folder, pid});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!fs::exists(ready)) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            FMounts.back().Server = -1;
            why = "faultfs.py ended before mounting " + folder;
            return false;
        }
        if (std::chrono::steady_clock::now() >= end) {
            why = "faultfs.py did not mount " + folder + " in time";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
