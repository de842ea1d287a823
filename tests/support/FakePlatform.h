#pragma once

#include "tests/support/FaultyPlatform.h"

#include <map>
#include <memory>
#include <set>
#include <string>

/// The drive questions that the watcher asks on worker threads, for faults set on one kind of them.
enum class TDriveQuestion
{
    Ready,   ///< whether a drive is ready
    Folder,  ///< whether a folder (DCIM) exists
    Listing, ///< the photos below a folder
};

/// The real platform over temporary folders, with the drives replaced by
/// folders that stand for volumes and the documents folder chosen by the
/// test. Single operations can be made to fail at the seam (see TFaultyPlatform),
/// and the drive questions can be made to hang or throw, as those of a locked phone or a stale mount do.
class TFakePlatform : public TFaultyPlatform
{
public:
    /// The documents folder as given. The home folder is home, or else the
    /// documents folder's parent; it is made when missing, as a user's home
    /// is always there. The program's state (its log) goes below home's
    /// .local/state, so nothing of a test reaches the real home folder.
    explicit TFakePlatform(std::string documentsFolder, const std::string& home = {});
    /// Releases every hung question.
    ~TFakePlatform() override;

    /// The home folder the platform underneath takes.
    const std::string& HomeFolder() const { return FHome; }
    /// Standard error counts as a terminal (for the log's copy of its lines).
    void SetStderrIsTerminal(bool terminal) { FStderrIsTerminal = terminal; }
    bool StderrIsTerminal() override { return FStderrIsTerminal; }
    /// Folders are joined with "/" on every system (Windows takes it as well as "\\"), so that the core's
    /// tests expect the same paths on both.
    char PathDelim() const override { return '/'; }
    /// The program's state below home's .local/state on every system: Windows would take the user's local
    /// application data folder.
    std::string StateFolder() override { return FHome + "/.local/state/fotoimport"; }

    /// Letter now stands for the folder root; ready as given.
    void AddDrive(char letter, const std::string& root, bool ready = true);
    void SetReady(char letter, bool ready);
    void RemoveDrive(char letter);
    void SetDocumentsFolder(const std::string& folder) { FDocuments = folder; }

    /// Questions of this kind about path, or about a path below it, do not answer until Release.
    void Hang(TDriveQuestion question, const std::string& path);
    /// Questions of this kind about path, or below it, throw an Exception with message, until Release.
    void Fail(TDriveQuestion question, const std::string& path, const std::string& message);
    /// Lets every hung question answer, and ends every fault of the drive questions.
    void Release();
    /// How many drive questions of any kind were asked about path.
    int QuestionsAbout(const std::string& path) const;
    /// How many drive questions hang now.
    int Hanging() const;

    /// Letters whose root was asked for since the last RefreshDrives.
    const std::set<char>& QueriedLetters() const { return FQueried; }
    /// Listings made, directly or as a drive question.
    int FindFilesCalls() const;

    void RefreshDrives() override { FQueried.clear(); }
    std::string DriveRoot(char letter) override;
    std::shared_ptr<TDriveQueries> DriveQueries() override { return FQueries; }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list, bool recursive,
                   bool clear, std::vector<TResult>* unreadable = nullptr) override;
    std::string DocumentsFolder() override { return FDocuments; }

    /// What the fake shares with the workers that ask its drive questions.
    struct TShared;

private:
    std::string FHome;
    std::string FDocuments;
    bool FStderrIsTerminal = false;
    std::map<char, std::string> FDrives;
    std::set<char> FQueried;
    std::shared_ptr<TShared> FShared;
    std::shared_ptr<TDriveQueries> FQueries;
};
