#include "app/core/ImportLog.h"

#include <cstdio>
#include <ctime>

namespace {

std::string Now()
{
    const std::time_t now = std::time(nullptr);
    // Lines are written under the log's lock, so the shared result of localtime is safe here.
    const std::tm* local = std::localtime(&now);
    char text[32] = "0000-00-00 00:00:00";
    if (local != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

/// "SOURCE -> TARGET: REASON", the target left out when there was none.
std::string PhotoLine(const char* what, const TPhotoRecord& record, const std::string& reason)
{
    std::string line = std::string(what) + ": " + record.Source;
    if (!record.Target.empty())
        line += " -> " + record.Target;
    return line + ": " + reason;
}

} // namespace

TImportLog::TImportLog(TPlatform& platform)
    : FPlatform(platform)
{
}

std::string TImportLog::Path() const
{
    const std::string folder = FPlatform.StateFolder();
    return folder.empty() ? std::string() : FPlatform.JoinPath(folder, "import.log");
}

void TImportLog::RunStarted(const std::string& card, bool move, int photos, const std::string& targetBase)
{
    Write("run started: card " + card + ", " + (move ? "move" : "copy") + ", " + std::to_string(photos) +
          " photos listed, target " + targetBase);
}

void TImportLog::PhotoDone(const TPhotoRecord& record)
{
    switch (record.Outcome) {
    case TPhotoOutcome::Failed:
        Write(PhotoLine("failed", record, record.Reason.Text()));
        return;
    case TPhotoOutcome::Skipped:
        return;
    case TPhotoOutcome::TakenElsewhere:
        Write(PhotoLine("taken elsewhere", record, record.Reason.Text()));
        return;
    case TPhotoOutcome::Transferred:
    case TPhotoOutcome::Turned:
    case TPhotoOutcome::TurnFailed:
        break;
    }
    if (record.Renamed)
        Write(PhotoLine("renamed", record, "its own name holds another photo"));
    if (!record.KeptOnCard)
        Write(PhotoLine("stayed on the card", record, record.KeptOnCard.Text()));
    if (record.Outcome == TPhotoOutcome::TurnFailed)
        Write(PhotoLine("not turned", record, record.Reason.Text()));
}

void TImportLog::TemporariesRemoved(const std::string& folder, int count, const TResult& result)
{
    if (count > 0)
        Write("removed " + std::to_string(count) + " left-over temporary files of an interrupted run in " +
              folder);
    if (!result)
        Write("left-over temporary files could not be removed: " + result.Text());
}

void TImportLog::RunStopped(int notStarted)
{
    Write("run stopped as the program ends: " + std::to_string(notStarted) +
          " photos not begun, left on the card");
}

void TImportLog::RunAbandoned(int inHand, int notStarted)
{
    // The photos in hand may be a whole group of copies waiting to be named: none of them is kept.
    Write("run cut off as the program ends while the device does not answer: " + std::to_string(inHand) +
          " photos in hand not finished, " + std::to_string(notStarted) +
          " photos not begun, left on the card");
}

void TImportLog::RunEnded(const TRunCounts& counts)
{
    Write(
        "run ended: " + std::to_string(counts.Transferred) + " transferred (" +
        std::to_string(counts.Renamed) + " renamed, " + std::to_string(counts.KeptOnCard) +
        " stayed on the card), " + std::to_string(counts.Turned) + " turned, " +
        std::to_string(counts.NotTurned) + " not turned, " + std::to_string(counts.AlreadyThere) +
        " already there, " + std::to_string(counts.Failed) + " failed" +
        (counts.TakenElsewhere > 0 ? ", " + std::to_string(counts.TakenElsewhere) + " taken elsewhere" : ""));
}

void TImportLog::FoldersNotFlushed(const TResult& result)
{
    Write("the day folders could not be flushed to the disk, the new names may not survive a power cut: " +
          result.Text());
}

void TImportLog::CardJudged(const TCardVerdict& verdict)
{
    Write(verdict.Text());
}

void TImportLog::Write(const std::string& text)
{
    const std::lock_guard lock(FMutex);
    const std::string line = Now() + " " + text + "\n";
    if (const std::string path = Path(); !path.empty())
        FPlatform.AppendToLog(path, line, kMaxSize);
    if (FPlatform.StderrIsTerminal())
        std::fputs(line.c_str(), stderr);
}
