#pragma once

#include "platform/Platform.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

/// A platform that hands every call on to another one, except the calls a
/// test told it to fail: those fail here, at the seam, with the reason given,
/// and touch nothing. What the real platform does inside (temporary names,
/// read-back, no-replace naming) is tested on real file systems instead.
class TFaultyPlatform : public TPlatform
{
public:
    explicit TFaultyPlatform(std::unique_ptr<TPlatform> inner);

    /// Copying (staging) or moving src fails with reason.
    void FailTransferOf(const std::string& src, TResult reason);
    /// Finishing a copy staged for dst fails with reason; the staged data is dropped.
    void FailFinishOf(const std::string& dst, TResult reason);
    /// Every FlushFolders fails with reason (after flushing, as a real failure would).
    void FailFlushFolders(TResult reason) { FFlushFailure = std::move(reason); }
    /// Replacing the contents of target fails with reason.
    void FailReplaceOf(const std::string& target, TResult reason);
    /// Moving src copies it and leaves it where it is, as a write-protected
    /// card does: the move succeeds with reason as the cause of the kept
    /// source, or, for a caller that takes no kept source, fails with reason
    /// and leaves nothing at dst.
    void KeepSourceOf(const std::string& src, TResult reason);
    /// Removes every fault.
    void Heal();

    TPlatform& Inner() { return *FInner; }

    void RefreshDrives() override { FInner->RefreshDrives(); }
    std::string DriveRoot(char letter) override { return FInner->DriveRoot(letter); }
    std::shared_ptr<TDriveQueries> DriveQueries() override { return FInner->DriveQueries(); }
    bool DirectoryExists(const std::string& path) override { return FInner->DirectoryExists(path); }
    bool CardFolderExists(const std::string& root, const std::string& name) override
    {
        return FInner->CardFolderExists(root, name);
    }
    bool FileExists(const std::string& path) override { return FInner->FileExists(path); }
    TResult CreateDir(const std::string& path) override { return FInner->CreateDir(path); }
    TResult RemoveEmptyFolder(const std::string& path) override { return FInner->RemoveEmptyFolder(path); }
    TResult ForceDirectories(const std::string& path) override { return FInner->ForceDirectories(path); }
    TResult ForceUserFolder(const std::string& path) override { return FInner->ForceUserFolder(path); }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear, std::vector<TResult>* unreadable = nullptr) override
    {
        FInner->FindFiles(folder, mask, list, recursive, clear, unreadable);
    }
    TResult CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    TResult StageCopy(const std::string& src, const std::string& dst,
                      std::unique_ptr<TStagedCopy>& copy) override;
    TResult FinishCopy(TStagedCopy& copy) override;
    TResult FlushFolders() override;
    TResult MovePhoto(const std::string& src, const std::string& dst, TResult* sourceKept = nullptr) override;
    TResult RemovePhoto(const std::string& path) override;
    TResult SameFileContents(const std::string& a, const std::string& b, bool& same) override
    {
        return FInner->SameFileContents(a, b, same);
    }
    TResult RemoveStaleTemporaries(const std::string& folder, int& removed) override
    {
        return FInner->RemoveStaleTemporaries(folder, removed);
    }
    TResult ReplaceFileContents(const std::string& target, std::span<const TDataPiece> pieces) override;
    std::string DocumentsFolder() override { return FInner->DocumentsFolder(); }
    TResult FileModifiedDate(const std::string& path, TLocalDate& date) override
    {
        return FInner->FileModifiedDate(path, date);
    }
    TResult FileModifiedTime(const std::string& path, int64_t& seconds, int& nanoseconds) override
    {
        return FInner->FileModifiedTime(path, seconds, nanoseconds);
    }
    std::string StateFolder() override { return FInner->StateFolder(); }
    TResult AppendToLog(const std::string& path, const std::string& text, uint64_t maxSize) override
    {
        return FInner->AppendToLog(path, text, maxSize);
    }
    bool StderrIsTerminal() override { return FInner->StderrIsTerminal(); }
    int ProcessorCount() override { return FInner->ProcessorCount(); }
    void CatchEndRequests() override { FInner->CatchEndRequests(); }
    bool EndRequested() override { return FInner->EndRequested(); }
    char PathDelim() const override { return FInner->PathDelim(); }
    std::string ExtractFileName(const std::string& path) const override
    {
        return FInner->ExtractFileName(path);
    }

private:
    std::unique_ptr<TPlatform> FInner;
    std::map<std::string, TResult> FTransferFailures;
    std::map<std::string, TResult> FFinishFailures;
    std::map<std::string, TResult> FReplaceFailures;
    std::map<std::string, TResult> FKeptSources;
    std::optional<TResult> FFlushFailure;
};
