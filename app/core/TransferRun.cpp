#include "app/core/TransferRun.h"

#include "app/core/CardVerdict.h"
#include "app/core/ImportLog.h"
#include "app/core/PhotoRules.h"
#include "app/core/TurnPool.h"
#include "meta/phJpegInfo.h"
#include "platform/FileStream.h"
#include "platform/Platform.h"
#include "raster/ScopeGuard.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

namespace {

constexpr size_t kCopiesInFlight = 32;
constexpr auto kGroupTime = std::chrono::milliseconds(500);
/// How long the run waits for the turning workers before it looks whether it is to stop.
constexpr auto kTurnPatience = std::chrono::milliseconds(200);
/// How many other names (NAME_1 ... NAME_9999) a photo may try.
constexpr int kMaxAlternatives = 9999;

bool IsTransferred(TPhotoOutcome outcome)
{
    return outcome == TPhotoOutcome::Transferred || outcome == TPhotoOutcome::Turned ||
           outcome == TPhotoOutcome::TurnFailed;
}

} // namespace

void TRunCounts::Count(const TPhotoRecord& record, int sign)
{
    switch (record.Outcome) {
    case TPhotoOutcome::Failed:
        Failed += sign;
        return;
    case TPhotoOutcome::Skipped:
        AlreadyThere += record.Reason.Kind() == TFailure::Exists ? sign : 0;
        return;
    case TPhotoOutcome::TakenElsewhere:
        TakenElsewhere += sign;
        return;
    case TPhotoOutcome::Turned:
        Turned += sign;
        break;
    case TPhotoOutcome::TurnFailed:
        NotTurned += sign;
        break;
    case TPhotoOutcome::Transferred:
        break;
    }
    Transferred += sign;
    Renamed += record.Renamed ? sign : 0;
    KeptOnCard += record.KeptOnCard ? 0 : sign;
}

/// How a photo stands between its preparation and its completion.
enum class TPassResult
{
    Transferred,
    Skipped,
    Failed,
    Pending ///< a copy staged but not yet named
};

/// One photo between its preparation and its completion.
struct TTransferRun::TPhotoPass
{
    std::string TargetFile;
    int Orientation = 0;
    TPassResult Result = TPassResult::Failed;
    std::unique_ptr<TStagedCopy> Copy;
    TPhotoRecord Record;
};

/// Where a photo goes in its day folder, or why it does not.
struct TTransferRun::TPlace
{
    TPassResult Result = TPassResult::Failed;
    std::string Target;
    bool Renamed = false;
    TResult Reason;
    /// There already, and found the same by a comparison that can be trusted.
    bool Verified = false;
};

TTransferRun::TTransferRun(TPlatform& platform, TImportLog& log, TRunProgress& progress,
                           const TRunOptions& options, TRunTools tools)
    : FPlatform(platform)
    , FLog(log)
    , FProgress(progress)
    , FOptions(options)
    , FTools(std::move(tools))
{
    if (!FTools.Reader)
        FTools.Reader = [](const std::string& photo, TStringList& metaList) {
            return ReadExifInfo(photo, metaList);
        };
    if (!FTools.Turner)
        FTools.Turner = [](TOrientationCorrector& corrector, const std::string& file, int orientation) {
            return corrector.Correct(file, orientation);
        };
}

TTransferRun::~TTransferRun() = default;

void TTransferRun::Run(const std::string& cameraPath, const std::vector<std::string>& photos,
                       const std::vector<TResult>& unreadable, bool judgeCard)
{
    const TScopeGuard judge([&] {
        if (judgeCard)
            JudgeTheCard(cameraPath);
    });
    FCameraPath = cameraPath;
    const std::string documents = FPlatform.DocumentsFolder();
    FTargetBase = documents.empty() ? std::string(1, FPlatform.PathDelim()) + kTargetFolder
                                    : FPlatform.JoinPath(documents, kTargetFolder);
    const int n = static_cast<int>(photos.size());
    FLog.RunStarted(cameraPath, FOptions.Move, n, FTargetBase);
    // Nothing of the card is passed over in silence: what could not be read is not transferred.
    for (const TResult& failure : unreadable) {
        TPhotoRecord record;
        record.Source = failure.Path();
        record.Reason = TResult::Fail(failure.Kind(), failure.Path(), "cannot be read: " + failure.Message(),
                                      failure.OsError());
        FCounts.Count(record, 1);
        FRecords.push_back(std::move(record));
        FLog.PhotoDone(FRecords.back());
    }
    if (n == 0) {
        FLog.RunEnded(FCounts);
        return;
    }
    // Without a documents folder there is no place of the user's to write
    // to. A missing documents folder is made only inside the home folder
    // (elsewhere it is a disk that is not attached); a missing "Eigene
    // Bilder" is made inside it.
    TResult targetBase = documents.empty()
                             ? TResult::Fail(TFailure::Unavailable, FTargetBase, "no documents folder")
                             : FPlatform.ForceUserFolder(documents);
    if (targetBase)
        targetBase = FPlatform.ForceDirectories(FTargetBase);
    // Copies are staged a few at a time before they are flushed and named:
    // one flush of the file system's journal then serves several photos.
    // Moves go one by one.
    // A group is also closed after half a second, so that the window is
    // painted and counts up often even when the card is slow.
    // Photos to be turned go to the turning workers as soon as their copy
    // has its name, and copying goes on meanwhile; each worker has a
    // corrector of its own, made here, where the picture formats are
    // registered.
    const int workers = FTools.TurnWorkers > 0 ? FTools.TurnWorkers : std::max(FPlatform.ProcessorCount(), 1);
    while (FCorrectors.size() < static_cast<size_t>(workers))
        FCorrectors.push_back(std::make_unique<TOrientationCorrector>(FPlatform));
    FTurns =
        std::make_unique<TTurnPool>(workers, [this](int worker, const std::string& file, int orientation) {
            return FTools.Turner(*FCorrectors[static_cast<size_t>(worker)], file, orientation);
        });
    TStringList metaList;
    std::vector<TPhotoPass> inFlight;
    auto groupStart = std::chrono::steady_clock::now();
    int started = 0;
    for (; started < n && !FStopping; ++started) {
        if (inFlight.empty())
            groupStart = std::chrono::steady_clock::now();
        FStarted = started + 1;
        inFlight.push_back(
            PreparePhoto(photos[static_cast<size_t>(started)], metaList, targetBase, inFlight));
        // A photo to be turned closes its group at once when no other one waits for a worker, so that
        // the workers are never idle for want of a named copy.
        const TPhotoPass& last = inFlight.back();
        const bool feedTurns = last.Result == TPassResult::Pending &&
                               TurnDue(last.Orientation, FOptions.Turn) && FTurns->NoneWaiting();
        if (FOptions.Move || feedTurns || inFlight.size() >= kCopiesInFlight || started == n - 1 ||
            std::chrono::steady_clock::now() - groupStart >= kGroupTime) {
            for (TPhotoPass& pass : inFlight)
                CompletePhoto(pass);
            inFlight.clear();
        }
    }
    // A stop between two photos of a group: the copies in hand are finished.
    for (TPhotoPass& pass : inFlight)
        CompletePhoto(pass);
    inFlight.clear();
    // The run ends when the last turn is saved.
    while (FTurns->Outstanding() > 0) {
        if (FStopping) {
            for (TTurnJob& job : FTurns->Abandon())
                TurnEnded({job.Record,
                           {TCorrectionOutcome::Failed,
                            TResult::Fail(TFailure::Other, job.File, "not turned: the program ended")}},
                          true);
        }
        CollectTurns(kTurnPatience);
    }
    FTurns.reset();
    if (started < n)
        FLog.RunStopped(n - started);
    // Until their folders are flushed, the new names could still vanish in a power cut. A flush that
    // fails is told; copies that are there whole (verified when they were named) still count as
    // transferred, and only one that is no longer there counts as failed.
    if (const TResult flushed = FPlatform.FlushFolders(); !flushed) {
        FLog.FoldersNotFlushed(flushed);
        for (TPhotoRecord& record : FRecords) {
            if (IsTransferred(record.Outcome) && !FPlatform.FileExists(record.Target)) {
                SetOutcome(record, TPhotoOutcome::Failed);
                record.Reason = flushed;
                FLog.PhotoDone(record);
            }
        }
    }
    // A day folder this run made and put nothing into (its only photo failed) is removed again.
    for (const std::string& folder : FMadeFolders)
        FPlatform.RemoveEmptyFolder(folder);
    FLog.RunEnded(FCounts);
}

void TTransferRun::JudgeTheCard(const std::string& cameraPath)
{
    // What is on the card now, every file: what stays there and why.
    TStringList files;
    std::vector<TResult> unreadable;
    if (cameraPath.empty() || !FPlatform.DirectoryExists(cameraPath))
        return;
    FPlatform.FindFiles(cameraPath, "*", files, true, true, &unreadable);
    FVerdict = JudgeCard(files.Items(), unreadable, FRecords, FOptions.Move);
    FLog.CardJudged(FVerdict);
}

bool TTransferRun::ReadMetadata(const std::string& photo, TStringList& metaList)
{
    // A photo whose metadata cannot be read is still a photo: it counts as
    // undated, and the run goes on.
    try {
        return FTools.Reader(photo, metaList);
    } catch (const std::exception&) {
        return false;
    }
}

TTransferRun::TPhotoPass TTransferRun::PreparePhoto(const std::string& photo, TStringList& metaList,
                                                    const TResult& targetBase,
                                                    const std::vector<TPhotoPass>& inFlight)
{
    metaList.Clear();
    metaList.SetSorted(true);
    TPhotoPass pass;
    pass.Record.Source = photo;
    std::string day;
    if (ReadMetadata(photo, metaList)) {
        const TPhotoFacts facts = PhotoFacts(metaList);
        FProgress.PhotoRead(facts.HasOrientation);
        pass.Orientation = facts.Orientation;
        day = facts.Day;
    }
    if (day.empty()) {
        // Cameras stamp the file with the time they wrote the photo: the next
        // best date for a photo without a usable one.
        TLocalDate date;
        pass.Record.Reason = FPlatform.FileModifiedDate(photo, date);
        if (pass.Record.Reason) {
            day = DayFolderFromDate(date);
            if (day.empty())
                pass.Record.Reason = TResult::Fail(TFailure::Damaged, photo, "no usable shooting date");
        }
    }
    if (!day.empty())
        PlacePhoto(photo, metaList, FPlatform.JoinPath(FTargetBase, day), targetBase, inFlight, pass);
    return pass;
}

void TTransferRun::PlacePhoto(const std::string& photo, const TStringList& metaList,
                              const std::string& dayFolder, const TResult& targetBase,
                              const std::vector<TPhotoPass>& inFlight, TPhotoPass& pass)
{
    TResult& reason = pass.Record.Reason;
    const std::string name = FPlatform.ExtractFileName(photo);
    pass.Record.Target = FPlatform.JoinPath(dayFolder, name);
    if (name.empty() || name == "." || name == "..") {
        reason = TResult::Fail(TFailure::NotSafe, photo, "no file name");
        return;
    }
    if (!targetBase) {
        reason = targetBase;
        return;
    }
    // Usually there already; one made now is removed again if nothing arrives in it.
    if (FPlatform.CreateDir(dayFolder))
        FMadeFolders.push_back(dayFolder);
    CleanDayFolder(dayFolder);

    TPlace place = FindPlace(photo, name, dayFolder, metaList, pass.Orientation, inFlight);
    pass.Result = place.Result;
    pass.Record.Reason = std::move(place.Reason);
    pass.Record.Renamed = place.Renamed;
    pass.Record.Verified = place.Verified;
    if (!place.Target.empty())
        pass.Record.Target = place.Target;
    pass.TargetFile = place.Target;
    if (place.Result != TPassResult::Pending)
        return;
    // A photo to be turned is copied, and leaves the card only when its turn has ended (TurnEnded): a run
    // cut off before leaves it there, and the next run finds its copy and turns it.
    if (FOptions.Move && !TurnDue(pass.Orientation, FOptions.Turn)) {
        reason = FPlatform.MovePhoto(photo, pass.TargetFile, &pass.Record.KeptOnCard);
        pass.Result = reason ? TPassResult::Transferred : TPassResult::Failed;
        return;
    }
    reason = FPlatform.StageCopy(photo, pass.TargetFile, pass.Copy);
    pass.Result = reason && pass.Copy ? TPassResult::Pending : TPassResult::Failed;
}

TTransferRun::TPlace TTransferRun::FindPlace(const std::string& photo, const std::string& name,
                                             const std::string& dayFolder, const TStringList& metaList,
                                             int orientation, const std::vector<TPhotoPass>& inFlight)
{
    // The photo's own name first, then NAME_1, NAME_2, ...: the first that is
    // free is its place, unless a file under one of them before it is this
    // very photo. A name an earlier photo of this pass is about to take is
    // not free; that photo is this one when their bytes are the same.
    for (int index = 0; index <= kMaxAlternatives; ++index) {
        std::string candidate = FPlatform.JoinPath(dayFolder, AlternativeName(name, index));
        const auto pending = std::find_if(inFlight.begin(), inFlight.end(), [&](const TPhotoPass& earlier) {
            return earlier.Result == TPassResult::Pending && earlier.TargetFile == candidate;
        });
        bool there = false;
        bool verified = false;
        if (pending != inFlight.end()) {
            bool same = false;
            there = FPlatform.SameFileContents(photo, pending->Record.Source, same) && same;
        } else if (!FPlatform.FileExists(candidate) && !FPlatform.DirectoryExists(candidate)) {
            return {TPassResult::Pending, std::move(candidate), index > 0, {}};
        } else {
            const TSameness sameness = IsThisPhoto(photo, metaList, candidate);
            // A copy with the photo's bytes that should have been turned: a run ended before its turn came.
            // It is turned now, as if copied in this run.
            if (sameness == TSameness::SameBytes && IsTurnedOrientation(orientation) &&
                TurnDue(orientation, FOptions.Turn))
                return {TPassResult::Transferred, std::move(candidate), index > 0, {}};
            there = sameness != TSameness::Other;
            verified = sameness == TSameness::SameBytes ||
                       (sameness == TSameness::TurnedCopy && ReadsBack(candidate));
        }
        if (there) {
            // In its day folder already: left alone, on the card as well.
            TResult reason = TResult::Fail(TFailure::Exists, candidate, "the photo is there already");
            return {TPassResult::Skipped, std::move(candidate), false, std::move(reason), verified};
        }
    }
    return {
        TPassResult::Failed,
        {},
        false,
        TResult::Fail(TFailure::Exists, FPlatform.JoinPath(dayFolder, name), "no free name for the photo")};
}

TTransferRun::TSameness TTransferRun::IsThisPhoto(const std::string& photo, const TStringList& metaList,
                                                  const std::string& target)
{
    bool same = false;
    if (FPlatform.SameFileContents(photo, target, same) && same)
        return TSameness::SameBytes;
    // The copy keeps the photo's modification time, to the part of a second
    // the card keeps.
    int64_t photoTime = 0;
    int64_t targetTime = 0;
    int photoPart = 0;
    int targetPart = 0;
    if (!FPlatform.FileModifiedTime(photo, photoTime, photoPart) ||
        !FPlatform.FileModifiedTime(target, targetTime, targetPart) || photoTime != targetTime ||
        photoPart != targetPart)
        return TSameness::Other;
    TStringList targetList;
    targetList.SetSorted(true);
    return ReadMetadata(target, targetList) && IsTurnedCopyOf(targetList, metaList) ? TSameness::TurnedCopy
                                                                                    : TSameness::Other;
}

bool TTransferRun::TakenElsewhere(TPhotoRecord& record)
{
    // Another desktop session importing the same card: the photo left the card while the card is still
    // there, or its copy took the name meanwhile with the same bytes. That is not a failure of this run.
    if (FPlatform.FileExists(record.Source)) {
        bool same = false;
        if (record.Reason.Kind() != TFailure::Exists ||
            !FPlatform.SameFileContents(record.Source, record.Target, same) || !same)
            return false;
        record.Verified = true;
    } else if (!FPlatform.DirectoryExists(FCameraPath)) {
        return false; // the card was pulled out
    }
    record.Reason = TResult::Fail(record.Reason.Kind(), record.Reason.Path(),
                                  "taken by another program meanwhile: " + record.Reason.Message(),
                                  record.Reason.OsError());
    return true;
}

bool TTransferRun::ReadsBack(const std::string& file)
{
    try {
        TFileStream stream(file, fmOpenRead | fmShareDenyWrite);
        std::vector<char> buffer(1 << 20);
        while (stream.Read(buffer.data(), static_cast<int64_t>(buffer.size())) > 0) {
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TTransferRun::CleanDayFolder(const std::string& folder)
{
    if (!FCleanedFolders.insert(folder).second)
        return;
    int removed = 0;
    const TResult result = FPlatform.RemoveStaleTemporaries(folder, removed);
    FLog.TemporariesRemoved(folder, removed, result);
}

void TTransferRun::CompletePhoto(TPhotoPass& pass)
{
    TPhotoRecord& record = pass.Record;
    if (pass.Result == TPassResult::Pending) {
        record.Reason = FPlatform.FinishCopy(*pass.Copy);
        pass.Result = record.Reason ? TPassResult::Transferred : TPassResult::Failed;
        pass.Copy.reset();
    }
    record.Outcome = pass.Result == TPassResult::Transferred ? TPhotoOutcome::Transferred
                     : pass.Result == TPassResult::Skipped   ? TPhotoOutcome::Skipped
                     : TakenElsewhere(record)                ? TPhotoOutcome::TakenElsewhere
                                                             : TPhotoOutcome::Failed;
    const bool turn = pass.Result == TPassResult::Transferred && TurnDue(pass.Orientation, FOptions.Turn);
    FCounts.Count(record, 1);
    FRecords.push_back(std::move(record));
    ++FCompleted;
    FProgress.PhotoDone(FCounts);
    if (turn) {
        // Logged when its turn has ended.
        HandOverTurn(FRecords.size() - 1, pass.TargetFile, pass.Orientation);
    } else {
        FLog.PhotoDone(FRecords.back());
    }
    CollectTurns(std::chrono::milliseconds::zero());
}

void TTransferRun::HandOverTurn(size_t index, const std::string& file, int orientation)
{
    TTurnJob job{index, file, orientation};
    // At most one photo waits for a free worker; until there is room, the
    // turns that end are counted.
    while (!FStopping) {
        if (FTurns->Submit(job, kTurnPatience))
            return;
        CollectTurns(std::chrono::milliseconds::zero());
    }
    TurnEnded(
        {job.Record,
         {TCorrectionOutcome::Failed, TResult::Fail(TFailure::Other, file, "not turned: the program ended")}},
        true);
}

void TTransferRun::CollectTurns(std::chrono::milliseconds patience)
{
    for (const TTurnDone& done : FTurns->TakeDone(patience))
        TurnEnded(done);
}

void TTransferRun::TurnEnded(const TTurnDone& done, bool abandoned)
{
    TPhotoRecord& record = FRecords[done.Record];
    if (FOptions.Move) {
        // A photo moved is taken off the card once its copy has been turned, or could not be; one whose turn
        // the end of the program cut off stays, for the next run to turn its copy.
        FCounts.Count(record, -1);
        record.KeptOnCard = abandoned ? TResult::Fail(TFailure::Other, record.Source,
                                                      "left for the next import to turn its copy upright")
                                      : FPlatform.RemovePhoto(record.Source);
        FCounts.Count(record, 1);
    }
    switch (done.Result.Outcome) {
    case TCorrectionOutcome::Corrected:
        SetOutcome(record, TPhotoOutcome::Turned);
        FProgress.TurnEnded(FCounts);
        break;
    case TCorrectionOutcome::Failed:
        // Transferred all the same: it counts apart from the photos that did not arrive.
        SetOutcome(record, TPhotoOutcome::TurnFailed);
        record.Reason = done.Result.Reason
                            ? TResult::Fail(TFailure::Other, record.Target, "could not be turned upright")
                            : done.Result.Reason;
        FProgress.TurnEnded(FCounts);
        break;
    case TCorrectionOutcome::Skipped:
        break;
    }
    FLog.PhotoDone(record);
}

void TTransferRun::SetOutcome(TPhotoRecord& record, TPhotoOutcome outcome)
{
    FCounts.Count(record, -1);
    record.Outcome = outcome;
    FCounts.Count(record, 1);
}
