#pragma once

#include "platform/StringList.h"

#include <cstdint>
#include <memory>
#include <string>

/// A calendar day in local time.
struct TLocalDate
{
    int Year = 0;
    int Month = 0;
    int Day = 0;
};

/// A copy whose data is being written to a temporary file beside its target
/// and that has no name yet. Dropping it unfinished removes the temporary file.
class TStagedCopy
{
public:
    virtual ~TStagedCopy() = default;
};

/// Everything the camera watcher asks of the operating system. Paths are byte
/// strings exactly as the file system gives them, joined with PathDelim().
/// No function throws; failures come back as false or an empty result.
class TPlatform
{
public:
    virtual ~TPlatform() = default;

    /// Re-reads the table of drives, once per scan of the drive letters.
    virtual void RefreshDrives() {}
    /// Whether drive letter (A..Z, either case) has a medium that can be asked
    /// for its size without asking the user.
    virtual bool DriveIsReady(char letter) = 0;
    /// The root folder of the drive letter ("K:\" on Windows, the mount point
    /// on Linux); empty when the letter stands for no drive.
    virtual std::string DriveRoot(char letter) = 0;

    /// True when path names a folder.
    virtual bool DirectoryExists(const std::string& path) = 0;
    /// True when path names something that is not a folder.
    virtual bool FileExists(const std::string& path) = 0;
    /// Creates one folder level; false when it could not be created (also
    /// when it exists already).
    virtual bool CreateDir(const std::string& path) = 0;
    /// Creates the folder with all missing parents; true when it is a folder afterwards.
    virtual bool ForceDirectories(const std::string& path) = 0;

    /// Appends the full path of every file below folder whose name matches
    /// mask ("*" and "?", letters compared without regard to case) to list.
    /// Order: the folder's own files in directory order, then each sub-folder
    /// the same way, depth first. Hidden entries are included; folders reached
    /// through symbolic links are not entered. Folders that cannot be read add
    /// nothing. The list is filled inside one bulk update.
    virtual void FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                           bool recursive, bool clear) = 0;

    /// Copies src to dst. Never replaces an existing dst and never leaves a
    /// partial file under the name dst: the data goes to a temporary file in
    /// dst's folder, is flushed to the disk and only then gets its name. The
    /// modification time is kept. False on any failure.
    virtual bool CopyNoOverwrite(const std::string& src, const std::string& dst) = 0;
    /// The first half of CopyNoOverwrite: copies the data to a temporary file
    /// in dst's folder, so that several copies can be on their way at once and
    /// reach the disk together. Null when that fails.
    virtual std::unique_ptr<TStagedCopy> StageCopy(const std::string& src, const std::string& dst);
    /// The second half: flushes the staged data and gives it the name dst
    /// without replacing anything. False on any failure; the copy is used up.
    virtual bool FinishCopy(TStagedCopy& copy);
    /// Makes the names that copies gave since the last call survive a power
    /// cut (the data of each copy is on the disk before it gets its name).
    /// False when a folder could not be flushed.
    virtual bool FlushFolders() { return true; }
    /// Moves src to dst without replacing an existing dst. Across file systems
    /// the photo is copied as by CopyNoOverwrite, read back and compared, and
    /// only then removed from src. On failure src is left where it was and no
    /// file dst was made by the call.
    virtual bool MovePhoto(const std::string& src, const std::string& dst) = 0;

    /// The user's documents folder without a trailing delimiter; empty when it
    /// cannot be determined.
    virtual std::string DocumentsFolder() = 0;

    /// The local calendar day of the file's last modification.
    virtual bool FileModifiedDate(const std::string& path, TLocalDate& date) = 0;

    /// The folder separator: '\\' on Windows, '/' elsewhere.
    virtual char PathDelim() const = 0;

    /// The part of path after its last folder separator (and, on Windows, drive colon).
    virtual std::string ExtractFileName(const std::string& path) const;
    /// folder joined with name by exactly one separator.
    std::string JoinPath(const std::string& folder, const std::string& name) const;
};

/// Settings of the operating system's implementation. The defaults describe
/// the running system; tests point them at temporary folders and switch on
/// faults to see the safety steps work.
struct TPlatformOptions
{
    /// Linux: the mount table read for the drive letters.
    std::string MountInfoPath = "/proc/self/mountinfo";
    /// Linux: the home folder ($HOME when empty) and the configuration folder
    /// holding user-dirs.dirs ($XDG_CONFIG_HOME, else home + "/.config").
    std::string HomeFolder;
    std::string ConfigFolder;

    /// Fault: a copy's writing fails once this many bytes were written (-1: never).
    int64_t FailCopyAfterBytes = -1;
    /// Fault: a move treats source and target as on different file systems.
    bool ForceCrossDeviceMove = false;
    /// Fault: the read-back of a moved photo finds a difference.
    bool CorruptReadBack = false;
    /// Fault: the no-replace rename is unsupported, so the fallback is used.
    bool NoRenameNoReplace = false;
    /// Fault: the folders of the copies cannot be flushed.
    bool FailFolderFlush = false;
};

/// The implementation for the operating system the program was built for.
std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options = {});
