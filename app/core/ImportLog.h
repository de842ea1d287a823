#pragma once

#include "app/core/CardVerdict.h"
#include "app/core/PhotoRecord.h"
#include "platform/Platform.h"

#include <cstdint>
#include <mutex>
#include <string>

/// The import log: a plain-text file, import.log in the program's state
/// folder, that says when each transfer run started and ended and why a
/// photo did not arrive as expected: it failed, it went under another name,
/// it stayed on the card, or it was not turned. Each line starts with the
/// local date and time. The file is rotated at kMaxSize, one older file
/// (import.log.1) is kept. The same lines go to standard error when that is
/// a terminal. A log that cannot be written never stops a transfer. Lines may come from any thread.
class TImportLog
{
public:
    static constexpr uint64_t kMaxSize = uint64_t{1} << 20;

    /// platform must outlive the log.
    explicit TImportLog(TPlatform& platform);

    /// The log file's path; empty when the system has no state folder.
    std::string Path() const;

    void RunStarted(const std::string& card, bool move, int photos, const std::string& targetBase);
    /// A line for each way the photo did not arrive as expected; none when it did.
    void PhotoDone(const TPhotoRecord& record);
    /// A line when left-over temporary files of an interrupted run were removed.
    void TemporariesRemoved(const std::string& folder, int count, const TResult& result);
    /// A line when the program ended during the run before notStarted photos were begun.
    void RunStopped(int notStarted);
    /// A line when the program ended while a device held the run: inHand photos begun were not finished
    /// (no copy of them is kept) and notStarted photos were not begun.
    void RunAbandoned(int inHand, int notStarted);
    void RunEnded(const TRunCounts& counts);
    /// A line when the day folders could not be flushed after the run.
    void FoldersNotFlushed(const TResult& result);
    /// The line that says whether the card may be formatted, or what stays on it and why.
    void CardJudged(const TCardVerdict& verdict);

private:
    void Write(const std::string& text);

    TPlatform& FPlatform;
    /// The run's thread and the window's may both write.
    std::mutex FMutex;
};
