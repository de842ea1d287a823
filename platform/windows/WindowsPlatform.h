#pragma once

// The Windows implementation of TPlatform, split by concern over the files of
// this folder. Private to them: nothing outside platform/windows/ includes it.
// Paths cross the seam as UTF-8 and reach the system as UTF-16 (LongPath);
// every call into the system is the wide one.

#include "platform/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <windows.h>

/// A file handle closed when it goes out of scope.
class THandle
{
public:
    explicit THandle(HANDLE h = INVALID_HANDLE_VALUE)
        : FHandle(h)
    {
    }
    ~THandle() { Reset(INVALID_HANDLE_VALUE); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return FHandle; }
    bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
    void Reset(HANDLE h)
    {
        if (Valid())
            ::CloseHandle(FHandle);
        FHandle = h;
    }

private:
    HANDLE FHandle;
};

/// UTF-8 text as UTF-16; empty when text is not valid UTF-8, so that a broken
/// name never stands for another file.
std::wstring Wide(const std::string& text);
/// UTF-16 text as UTF-8 (an unpaired surrogate becomes U+FFFD).
std::string Utf8(const wchar_t* text, size_t size);
std::string Utf8(const std::wstring& text);
/// The name the system is given for path: absolute, "." and ".." resolved,
/// and with the long-path prefix "\\?\" ("\\?\UNC\" for a network share), so
/// that no length limit applies. Empty (which names no file) when path is
/// empty or not UTF-8.
std::wstring LongPath(const std::string& path);
/// The attributes of path, INVALID_FILE_ATTRIBUTES when it cannot be asked.
DWORD Attributes(const std::string& path);

/// The kind of failure a system error number stands for.
TFailure FailureOfError(DWORD error);
/// The failure of a system call on path that left error: its kind, the number and the system's text.
TResult OsFailure(const std::string& path, DWORD error);
/// The failure of the last system call on path.
TResult LastFailure(const std::string& path);
/// The folder that holds path ("." for a bare name, the root for an entry of it).
std::string ParentFolder(const std::string& path);
/// folder joined with name by one backslash.
std::string InFolder(const std::string& folder, const std::string& name);
/// Writes all of data; false with the system's error set when the file takes no more.
bool WriteAll(HANDLE h, const char* data, size_t size);

class TWindowsPlatform : public TPlatform
{
public:
    /// homeFolder: the folder inside which alone ForceUserFolder makes a missing folder; the user's profile
    /// folder when empty.
    explicit TWindowsPlatform(std::string homeFolder = {})
        : FHomeFolder(std::move(homeFolder))
    {
    }

    // Drives.cpp: the drive letters and the questions for worker threads.
    std::string DriveRoot(char letter) override;
    std::shared_ptr<TDriveQueries> DriveQueries() override;

    // WindowsPlatform.cpp: questions about names, folders, dates.
    bool DirectoryExists(const std::string& path) override;
    bool CardFolderExists(const std::string& root, const std::string& name) override;
    bool FileExists(const std::string& path) override;
    TResult CreateDir(const std::string& path) override;
    TResult RemoveEmptyFolder(const std::string& path) override;
    TResult ForceDirectories(const std::string& path) override;
    TResult FileModifiedDate(const std::string& path, TLocalDate& date) override;
    TResult FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds) override;
    std::string ExtractFileName(const std::string& path) const override;
    char PathDelim() const override { return '\\'; }

    // Search.cpp
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear, std::vector<TResult>* unreadable = nullptr) override;

    // SafeFiles.cpp: copies, moves and replacements that never leave a torn file.
    TResult CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    TResult MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept = nullptr) override;
    TResult RemovePhoto(const std::string& path) override;
    TResult ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces) override;
    TResult SameFileContents(const std::string& a, const std::string& b, bool& same) override;
    TResult RemoveStaleTemporaries(const std::string& folder, int& removed) override;
    void AbandonTemporaries() override;

    // UserFolders.cpp: the shell's folders, and the folders made for the user.
    std::string DocumentsFolder() override;
    TResult ForceUserFolder(const std::string& path) override;
    std::string StateFolder() override;

    // Log.cpp
    TResult AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize) override;
    bool StderrIsTerminal() override;
    int ProcessorCount() override;

private:
    void SearchFolder(const std::string& p, const std::string& mask, TStringList& list, bool recursive,
                      int depth, std::vector<TResult>* unreadable);
    /// Copies src to a temporary file beside dst, verifies it (copying it once more when it differs) and
    /// gives it the name dst without replacing anything.
    TResult SafeCopy(const std::string& src, const std::string& dst);

    std::string FHomeFolder;
    /// One set of questions for the program's life: a drive found stays found while its question runs.
    std::shared_ptr<TDriveQueries> FDriveQueries;
};
