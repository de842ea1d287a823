#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

/// File systems mounted for one test: tmpfs volumes of a chosen size and the
/// misbehaving FUSE file system of tests/support/faultfs.py. They live in a
/// mount namespace of the test process's own, so nothing is seen outside it
/// and everything goes when the process ends. Needs root (CAP_SYS_ADMIN).
///
///     std::string why;
///     if (!TPrivateMounts::Enter(why))
///         GTEST_SKIP() << why;
///
/// Declare the object after the temporary folder that holds the mount points,
/// so that it unmounts (newest first) before the folder is removed.
class TPrivateMounts
{
public:
    TPrivateMounts() = default;
    ~TPrivateMounts();
    TPrivateMounts(const TPrivateMounts&) = delete;
    TPrivateMounts& operator=(const TPrivateMounts&) = delete;

    /// Moves this process into a private mount namespace (once). False, with
    /// the reason in why, where that is not allowed.
    static bool Enter(std::string& why);
    /// Whether FUSE file systems can be served here (/dev/fuse, Debian's
    /// python3 with fusepy); false with the reason in why.
    static bool FuseAvailable(std::string& why);
    /// Whether exFAT images can be mounted through exfat-fuse here (/dev/fuse,
    /// loop devices, the packages exfat-fuse and exfatprogs); false with the
    /// reason in why.
    static bool ExfatAvailable(std::string& why);

    /// Mounts an empty tmpfs of the given size at folder (made if missing).
    /// False with the reason in why.
    bool Tmpfs(const std::string& folder, size_t bytes, std::string& why);
    /// Mounts the file or folder source over target (a bind mount), so that
    /// target shows source's file system.
    bool Bind(const std::string& source, const std::string& target, std::string& why);
    /// Makes the file system mounted at folder read-only, or writable again.
    bool SetReadOnly(const std::string& folder, bool readOnly, std::string& why);
    /// Serves source at folder through faultfs.py with its options
    /// ("--flip-middle", "once", "--direct-io", ...), once it is mounted.
    bool Fuse(const std::string& source, const std::string& folder, const std::vector<std::string>& options,
              std::string& why);
    /// Mounts a fresh exFAT file system of the given size at folder (made if
    /// missing) through exfat-fuse, as a card or disk formatted exFAT is
    /// mounted where the kernel has no exFAT of its own. Its image is the file
    /// folder + ".img", on a loop device that goes when the mount goes.
    bool Exfat(const std::string& folder, size_t bytes, std::string& why);

private:
    struct TMount
    {
        std::string Folder;
        pid_t Server = -1; ///< the FUSE process, if any
    };
    std::vector<TMount> FMounts;
};
