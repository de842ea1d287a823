#pragma once

#include "platform/Platform.h"

#include <map>
#include <memory>
#include <set>
#include <string>

/// The real platform over temporary folders, with the drives replaced by
/// folders that stand for volumes and the documents folder chosen by the
/// test. Faults of the real file operations are switched on through the
/// options; single photos can be made to fail outright.
class TFakePlatform : public TPlatform
{
public:
    explicit TFakePlatform(std::string documentsFolder);

    /// Letter now stands for the folder root; ready as given.
    void AddDrive(char letter, const std::string& root, bool ready = true);
    void SetReady(char letter, bool ready);
    void RemoveDrive(char letter);
    void SetDocumentsFolder(const std::string& folder) { FDocuments = folder; }
    /// Rebuilds the real platform with these options (faults).
    void SetOptions(const TPlatformOptions& options);
    /// Copies and moves of this source path fail without touching anything.
    void FailTransferOf(const std::string& source) { FFailingSources.insert(source); }

    /// Letters asked for by DriveIsReady since the last RefreshDrives.
    const std::set<char>& QueriedLetters() const { return FQueried; }
    int FindFilesCalls() const { return FFindFilesCalls; }

    void RefreshDrives() override { FQueried.clear(); }
    bool DriveIsReady(char letter) override;
    std::string DriveRoot(char letter) override;
    bool DirectoryExists(const std::string& path) override { return FReal->DirectoryExists(path); }
    bool FileExists(const std::string& path) override { return FReal->FileExists(path); }
    bool CreateDir(const std::string& path) override { return FReal->CreateDir(path); }
    bool ForceDirectories(const std::string& path) override { return FReal->ForceDirectories(path); }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear) override;
    bool CopyNoOverwrite(const std::string& src, const std::string& dst) override;
    bool MovePhoto(const std::string& src, const std::string& dst) override;
    std::unique_ptr<TStagedCopy> StageCopy(const std::string& src, const std::string& dst) override;
    bool FinishCopy(TStagedCopy& copy) override { return FReal->FinishCopy(copy); }
    bool FlushFolders() override { return FReal->FlushFolders(); }
    std::string DocumentsFolder() override { return FDocuments; }
    bool FileModifiedDate(const std::string& path, TLocalDate& date) override
    {
        return FReal->FileModifiedDate(path, date);
    }
    char PathDelim() const override { return '/'; }

private:
    struct TDrive
    {
        std::string Root;
        bool Ready = true;
    };

    std::unique_ptr<TPlatform> FReal;
    std::string FDocuments;
    std::map<char, TDrive> FDrives;
    std::set<char> FQueried;
    std::set<std::string> FFailingSources;
    int FFindFilesCalls = 0;
};
