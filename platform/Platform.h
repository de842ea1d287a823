#pragma once

#include "base/Result.h"
#include "base/StringList.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
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

/// A run of bytes owned by the caller; a file's new contents may be given as
/// several of them, written one after the other.
struct TDataPiece
{
    const void* Data = nullptr;
    size_t Size = 0;
};

/// The questions about a drive that can take long or never end: on a phone, a camera, a stale FUSE or
/// network mount. The camera watcher asks them on worker threads and waits for them only a short while, so
/// implementations answer from any thread and keep no state that changes, and the workers share the
/// ownership of the object: a question that hangs past the platform's end touches nothing that is gone.
class TDriveQueries
{
public:
    virtual ~TDriveQueries() = default;
    /// Whether the drive whose root folder is root has a medium that can be asked for its size without
    /// asking the user.
    virtual bool DriveIsReady(const std::string& root) = 0;
    /// As TPlatform::CardFolderExists: name is a real folder right inside root, on root's file system.
    virtual bool CardFolderExists(const std::string& root, const std::string& name) = 0;
    /// As TPlatform::FindFiles, recursive, into a list of the caller's own.
    virtual void FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                           std::vector<TResult>* unreadable = nullptr) = 0;
};

/// Everything the program asks of the operating system. Paths are byte
/// strings exactly as the file system gives them, joined with PathDelim().
/// No function throws. Operations that can fail return a TResult carrying the
/// kind of failure, the OS error number and text, and the path concerned;
/// questions (does it exist, is it ready) answer with a bool. FileExists,
/// DirectoryExists and ReplaceFileContents are also called from the workers
/// that turn photos, beside calls on the run's thread: they keep no state.
class TPlatform
{
public:
    virtual ~TPlatform() = default;

    /// Re-reads the table of drives, once per scan of the drive letters. On Linux the drives are the
    /// volumes and the storages of phones and cameras, in the order they appeared; devices are looked at
    /// on worker threads, and one that does not answer in time is left out until it does.
    virtual void RefreshDrives() {}
    /// Whether drive letter (A..Z, either case) has a medium that can be asked
    /// for its size without asking the user. Asks on the calling thread.
    bool DriveIsReady(char letter);
    /// The root folder of the drive letter ("K:\" on Windows, the mount point on Linux, or the storage
    /// folder of a phone or camera); empty when the letter stands for no drive. Never waits for a device.
    virtual std::string DriveRoot(char letter) = 0;
    /// The drive questions for worker threads; the same object every time.
    virtual std::shared_ptr<TDriveQueries> DriveQueries() = 0;

    /// True when path names a folder.
    virtual bool DirectoryExists(const std::string& path) = 0;
    /// True when name is a real folder right inside the drive root folder
    /// root and on root's own file system: not a symbolic link (or another
    /// kind of link), and no other volume mounted there. Only such a folder is
    /// taken for a card's photo folder, so that a card cannot point the
    /// program at folders outside itself.
    virtual bool CardFolderExists(const std::string& root, const std::string& name) = 0;
    /// True when path names something that is not a folder.
    virtual bool FileExists(const std::string& path) = 0;
    /// Creates one folder level; fails when it cannot be created, also when
    /// it exists already (kind Exists).
    virtual TResult CreateDir(const std::string& path) = 0;
    /// Removes the folder when it is empty; fails, leaving it, when it holds anything.
    virtual TResult RemoveEmptyFolder(const std::string& path) = 0;
    /// Creates the folder with all missing parents; succeeds when it is a folder afterwards.
    virtual TResult ForceDirectories(const std::string& path) = 0;
    /// Makes sure the user's folder path (the documents folder) is there.
    /// When it is missing it is created with its missing parents, but only
    /// inside the user's home folder: a missing folder elsewhere (on a disk
    /// that is not attached, whose empty mount point would otherwise receive
    /// the photos) is not created, and the result is Unavailable.
    virtual TResult ForceUserFolder(const std::string& path) = 0;

    /// Appends the full path of every file below folder whose name matches
    /// mask ("*" and "?", letters compared without regard to case) to list.
    /// Order: the folder's own files in directory order, then each sub-folder
    /// the same way, depth first. Hidden entries are included. Only the real
    /// files and folders of folder's own file system count: symbolic links
    /// (and other links) are neither listed nor entered, at any level and
    /// folder itself included, and nothing on another volume mounted below
    /// folder is listed. A folder or entry that cannot be read adds nothing
    /// to list and, when unreadable is given, its failure (the OS's reason
    /// and its path) to unreadable; a folder that is not there adds nothing
    /// to either. The list is filled inside one bulk update.
    virtual void FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                           bool recursive, bool clear, std::vector<TResult>* unreadable = nullptr) = 0;

    /// Copies src to dst. Never replaces an existing dst and never leaves a
    /// partial file under the name dst: the data goes to a temporary file in
    /// dst's folder, is flushed to the disk, read back from the disk and
    /// compared with src read once more from its disk (neither from memory),
    /// and only then gets its name. When they differ the photo is copied once
    /// more; when they still differ the call fails with Mismatch and leaves
    /// nothing. The modification time is kept.
    virtual TResult CopyNoOverwrite(const std::string& src, const std::string& dst) = 0;
    /// The first half of CopyNoOverwrite: copies the data to a temporary file
    /// in dst's folder, so that several copies can be on their way at once and
    /// reach the disk together. On success copy holds the staged copy; on
    /// failure it is null.
    virtual TResult StageCopy(const std::string& src, const std::string& dst,
                              std::unique_ptr<TStagedCopy>& copy);
    /// The second half: flushes the staged data, verifies it as
    /// CopyNoOverwrite does and gives it the name dst without replacing
    /// anything. The copy is used up either way.
    virtual TResult FinishCopy(TStagedCopy& copy);
    /// Makes the names that copies gave since the last call survive a power
    /// cut (the data of each copy is on the disk before it gets its name).
    /// Fails when a folder could not be flushed.
    virtual TResult FlushFolders() { return {}; }
    /// Moves src to dst without replacing an existing dst. On one file system
    /// it is a rename; across file systems the photo is copied and verified
    /// as by CopyNoOverwrite, and only then removed from src. On
    /// failure src is left where it was and no file dst was made by the call.
    /// When the verified copy is made but src cannot be removed (a
    /// write-protected card), a caller that passes sourceKept gets success,
    /// the copy stays at dst and *sourceKept says why src is still there;
    /// without sourceKept the copy is taken back and the call fails.
    virtual TResult MovePhoto(const std::string& src, const std::string& dst,
                              TResult* sourceKept = nullptr) = 0;
    /// Removes a photo from the card once its copy is safe elsewhere, and flushes the removal: the end of a
    /// move whose copy was made (and turned) first.
    virtual TResult RemovePhoto(const std::string& path) = 0;
    /// Whether the files a and b hold the same bytes; same is set only on success.
    virtual TResult SameFileContents(const std::string& a, const std::string& b, bool& same) = 0;
    /// Removes the temporary files this process has made and not yet named or removed (a copy in hand, a
    /// replacement being written), for an end that cannot wait for them. Safe from any thread.
    virtual void AbandonTemporaries() {}
    /// Removes the temporary files that interrupted copies and replacements
    /// of this program left in folder, and the empty file a copy claimed its
    /// name with where the file system has no rename that refuses to replace,
    /// when it was killed before the copy took that name; never one that a
    /// running copy or replacement (of this or another process) still holds.
    /// removed counts them. Platforms that cannot tell which are left over
    /// remove none.
    virtual TResult RemoveStaleTemporaries(const std::string& folder, int& removed)
    {
        (void)folder;
        removed = 0;
        return {};
    }
    /// Replaces the contents of the existing file target with the pieces, one
    /// after the other, so that target holds either all of its old or all of
    /// its new bytes, even after a power cut. The new file is written beside
    /// it under a temporary name (the one staged copies use), flushed, given
    /// target's permissions and access and modification times, and then put
    /// in target's place once it has been read back from the disk (not from
    /// memory) and found to hold the pieces; when it does not, it is written
    /// once more, and when it still does not the call fails with Mismatch.
    /// On failure target is unchanged and no temporary file remains.
    virtual TResult ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces) = 0;

    /// The user's documents folder without a trailing delimiter; empty when it
    /// cannot be determined.
    virtual std::string DocumentsFolder() = 0;

    /// The local calendar day of the file's last modification.
    virtual TResult FileModifiedDate(const std::string& path, TLocalDate& date) = 0;
    /// The file's last modification: whole seconds since 1970-01-01 UTC, and
    /// the nanoseconds within that second as far as the file system keeps
    /// them (0 where it keeps none).
    virtual TResult FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds) = 0;

    /// The folder for the program's own state files such as its log
    /// ($XDG_STATE_HOME/fotoimport, else ~/.local/state/fotoimport on Linux;
    /// the local application data folder on Windows); empty when unknown.
    virtual std::string StateFolder() = 0;
    /// Appends text to the file at path, creating the file (readable by the
    /// user only) and its missing folders. A file that has reached maxSize
    /// bytes is first renamed to path + ".1", replacing the older one there.
    virtual TResult AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize) = 0;
    /// Whether the program's standard error goes to a terminal.
    virtual bool StderrIsTerminal() = 0;
    /// How many processors the program may run on (at least 1).
    virtual int ProcessorCount() = 0;
    /// From now on a request from outside to end the program (on Linux the
    /// signals of the session's end, a shutdown or Ctrl+C: SIGTERM, SIGHUP,
    /// SIGINT) no longer ends it on the spot but is noted, so that the
    /// program can end in good order. Windows tells a program's windows of
    /// the session's end; there is nothing to catch there.
    virtual void CatchEndRequests() {}
    /// Whether such a request has come since CatchEndRequests.
    virtual bool EndRequested() { return false; }

    /// The folder separator: '\\' on Windows, '/' elsewhere.
    virtual char PathDelim() const = 0;

    /// The part of path after its last folder separator (and, on Windows, drive colon).
    virtual std::string ExtractFileName(const std::string& path) const;
    /// folder joined with name by exactly one separator.
    std::string JoinPath(const std::string& folder, const std::string& name) const;
};

/// Settings of the operating system's implementation. The defaults describe
/// the running system; tests point them at temporary folders.
struct TPlatformOptions
{
    /// Linux: the mount table read for the drive letters.
    std::string MountInfoPath = "/proc/self/mountinfo";
    /// Linux: the user's runtime folder, whose gvfs folder holds the phones and cameras the desktop
    /// mounted ($XDG_RUNTIME_DIR when empty).
    std::string RuntimeFolder;
    /// Linux: how long a refresh of the drives waits for a device's folder to answer.
    std::chrono::milliseconds DevicePatience{300};
    /// The home folder, inside which alone a missing documents folder is made
    /// (Linux: $HOME when empty; Windows: the user's profile folder when
    /// empty), and, on Linux, the configuration folder holding
    /// user-dirs.dirs ($XDG_CONFIG_HOME, else home + "/.config").
    std::string HomeFolder;
    std::string ConfigFolder;
    /// Linux: the state folder ($XDG_STATE_HOME, else home + "/.local/state"),
    /// below which the program keeps its own folder.
    std::string StateHome;
};

/// The implementation for the operating system the program was built for.
std::unique_ptr<TPlatform> CreatePlatform(const TPlatformOptions& options = {});

/// A short text that tells the users of this computer apart, for names that
/// must differ from user to user (the numeric user id on Linux, the user name
/// on Windows). Empty when it cannot be determined.
std::string UserKey();
