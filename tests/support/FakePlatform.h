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
    /// The documents folder as given. The home folder is home, or else the
    /// documents folder's parent; it is made when missing, as a user's home
    /// is always there. The program's state (its log) goes below home's
    /// .local/state, so nothing of a test reaches the real home folder.
    explicit TFakePlatform(std::string documentsFolder, const std::string& home = {});

    /// The home folder the platform underneath takes.
    const std::string& HomeFolder() const { return FHome; }
    /// Standard error counts as a terminal (for the log's copy of its lines).
    void SetStderrIsTerminal(bool terminal) { FStderrIsTerminal = terminal; }
    bool StderrIsTerminal() override { return FStderrIsTerminal; }

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

    std::string FHome;
    std::string FDocuments;
    bool FStderrIsTerminal = false;
    std::map<char, TDrive> FDrives;
    std::set<char> FQueried;
    int FFindFilesCalls = 0;
};
