#pragma once

// The Linux implementation of TPlatform, split by concern over the files of
// this folder. Private to them: nothing outside platform/ includes it.

#include "base/BoundedCalls.h"
#include "platform/Platform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

/// A file descriptor closed when it goes out of scope.
class TFd
{
public:
    explicit TFd(int fd = -1)
        : FFd(fd)
    {
    }
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset(int fd)
    {
        Close();
        FFd = fd;
    }
    /// Gives up ownership without closing.
    void Release() { FFd = -1; }
    /// Closes the descriptor now; the error number of close, or 0.
    int Close();

private:
    int FFd;
};

/// Removes a temporary file unless the caller keeps it.
class TTempFile
{
public:
    TTempFile() = default;
    ~TTempFile();
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Name() const { return FName; }
    void Set(std::string name);
    /// The file has its final name, or is left on purpose: it is no longer removed.
    void Keep();

private:
    std::string FName;
};

/// The kind of failure an error number of the C library stands for.
TFailure FailureOfError(int error);
/// The failure of an OS call on path that set error: its kind, the number and the system's text.
TResult OsFailure(const std::string& path, int error);
/// The folder that holds path ("." for a bare name, "/" for an entry of the root).
std::string ParentFolder(const std::string& path);
/// Flushes a folder's entries to the disk.
TResult SyncFolder(const std::string& folder);
/// Writes all of data; false with errno set when the file takes no more.
bool WriteAll(int fd, const char* data, size_t count);
/// Creates the folder's missing parents and the folder with the given mode;
/// succeeds when it is a folder afterwards.
TResult MakeFolders(const std::string& path, mode_t mode);
/// Creates an empty file for writing under a fresh hidden name in folder
/// (".fotoimport-" and six random characters, mode 0600) and locks it
/// (flock) for as long as fd stays open. Staged copies and replaced files
/// both take their temporary names from here, so a left-over one is
/// recognised by its name, and one still being written by its lock. temp
/// removes the file unless it is kept.
TResult MakeTempBeside(const std::string& folder, TFd& fd, TTempFile& temp);

class TLinuxStagedCopy;

class TLinuxPlatform : public TPlatform
{
public:
    explicit TLinuxPlatform(const TPlatformOptions& options);

    // Drives.cpp: the mount table, the devices, and the drive letters.
    void RefreshDrives() override;
    std::string DriveRoot(char letter) override;
    std::shared_ptr<TDriveQueries> DriveQueries() override;

    // LinuxPlatform.cpp: questions about names, folders, dates.
    bool DirectoryExists(const std::string& path) override;
    bool CardFolderExists(const std::string& root, const std::string& name) override;
    bool FileExists(const std::string& path) override;
    TResult CreateDir(const std::string& path) override;
    TResult RemoveEmptyFolder(const std::string& path) override;
    TResult ForceDirectories(const std::string& path) override;
    TResult FileModifiedDate(const std::string& path, TLocalDate& date) override;
    TResult FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds) override;
    char PathDelim() const override { return '/'; }

    // Search.cpp
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear, std::vector<TResult>* unreadable = nullptr) override;

    // SafeFiles.cpp: copies, moves and replacements that never leave a torn file.
    TResult CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    TResult StageCopy(const std::string& src, const std::string& dst,
                      std::unique_ptr<TStagedCopy>& copy) override;
    TResult FinishCopy(TStagedCopy& copy) override;
    TResult MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept = nullptr) override;
    TResult RemovePhoto(const std::string& path) override;
    TResult FlushFolders() override;
    TResult ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces) override;
    TResult SameFileContents(const std::string& a, const std::string& b, bool& same) override;
    TResult RemoveStaleTemporaries(const std::string& folder, int& removed) override;
    void AbandonTemporaries() override;

    // UserFolders.cpp: the user's folders, and the folders made for the user.
    std::string DocumentsFolder() override;
    TResult ForceUserFolder(const std::string& path) override;
    std::string StateFolder() override;

    // Log.cpp
    TResult AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize) override;
    bool StderrIsTerminal() override;
    int ProcessorCount() override;
    void CatchEndRequests() override;
    bool EndRequested() override;

private:
    void SearchTree(const std::string& root, const std::string& mask, TStringList& list, bool recursive,
                    std::vector<TResult>* unreadable);
    TResult Stage(const std::string& src, const std::string& dst, std::unique_ptr<TLinuxStagedCopy>& copy);
    /// Compares the flushed copy with its photo, both read again from their disks; copies it once more
    /// when they differ, and fails with Mismatch when they still do.
    TResult Verify(TLinuxStagedCopy& copy);
    /// Flushes, verifies and names the copy. alone: flushes just this copy and its folder at once (a move),
    /// rather than the whole file system for a group of copies and their folders with FlushFolders.
    TResult Finish(TLinuxStagedCopy& copy, bool alone);
    TResult SafeCopy(const std::string& src, const std::string& dst, bool alone);
    std::string HomeFolder() const;
    std::string RuntimeFolder() const;

    TPlatformOptions FOptions;
    mode_t FFileMode = 0644;
    bool FDrivesRead = false;
    std::vector<std::string> FDrives; // roots for E, F, G, ...
    /// When a drive was first seen (a counter), by its key, and its root.
    struct TAppearance
    {
        uint64_t Order = 0;
        std::string Root;
    };
    std::map<std::string, TAppearance> FAppearance;
    uint64_t FAppeared = 0;
    /// How long an answer about a device folder stands in for one that does not come.
    static constexpr std::chrono::milliseconds kDeviceAnswerAge{2500};
    /// The device folders' answers: gvfs's folder and each device's storages.
    TBoundedCalls<std::vector<std::string>> FDeviceCalls;
    std::shared_ptr<TDriveQueries> FDriveQueries;
    std::set<std::string> FPendingFolders;
    std::set<TLinuxStagedCopy*> FUnfinished;
};
