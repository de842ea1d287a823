#pragma once

#include "tests/support/FaultyPlatform.h"

#include <map>
#include <set>
#include <string>

/// The real platform over temporary folders, with the drives replaced by
/// folders that stand for volumes and the documents folder chosen by the
/// test. Single operations can be made to fail at the seam (see TFaultyPlatform).
class TFakePlatform : public TFaultyPlatform
{
public:
    /// The documents folder as given; home (when given) is the home folder
    /// the real platform underneath takes, and state (when given) the base
    /// of the program's state folder.
    explicit TFakePlatform(std::string documentsFolder, const std::string& home = {},
                           const std::string& state = {});

    /// Letter now stands for the folder root; ready as given.
    void AddDrive(char letter, const std::string& root, bool ready = true);
    void SetReady(char letter, bool ready);
    void RemoveDrive(char letter);
    void SetDocumentsFolder(const std::string& folder) { FDocuments = folder; }

    /// Letters asked for by DriveIsReady since the last RefreshDrives.
    const std::set<char>& QueriedLetters() const { return FQueried; }
    int FindFilesCalls() const { return FFindFilesCalls; }

    void RefreshDrives() override { FQueried.clear(); }
    bool DriveIsReady(char letter) override;
    std::string DriveRoot(char letter) override;
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear) override;
    std::string DocumentsFolder() override { return FDocuments; }

private:
    struct TDrive
    {
        std::string Root;
        bool Ready = true;
    };

    std::string FDocuments;
    std::map<char, TDrive> FDrives;
    std::set<char> FQueried;
    int FFindFilesCalls = 0;
};
