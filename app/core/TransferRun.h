#pragma once

#include "app/core/CardVerdict.h"
#include "app/core/Correction.h"
#include "app/core/PhotoRecord.h"
#include "base/StringList.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TImportLog;
class TPlatform;
class TTurnPool;
struct TTurnDone;

/// The folder in the documents folder that holds the day folders.
inline constexpr const char* kTargetFolder = "Eigene Bilder";

/// Reads a photo's EXIF entries into metaList as Name=Value lines; may throw.
using TPhotoReader = std::function<bool(const std::string& photo, TStringList& metaList)>;
/// Turns a transferred photo upright with the corrector of the worker it runs on, beside other workers.
using TPhotoTurner = std::function<TCorrectionResult(TOrientationCorrector& corrector,
                                                     const std::string& file, int orientation)>;

/// What a run uses besides the platform: how photos are read and turned, and on how many workers.
struct TRunTools
{
    /// Unset: the EXIF reader.
    TPhotoReader Reader;
    /// Unset: the corrector's own correction.
    TPhotoTurner Turner;
    /// How many photos are turned at once; 0: one per processor the program may run on.
    int TurnWorkers = 0;
};

/// Where a run tells how it goes, on the thread that runs it.
class TRunProgress
{
public:
    virtual ~TRunProgress() = default;
    /// The metadata of the next photo was read; hasOrientation: it has an Orientation entry.
    virtual void PhotoRead(bool hasOrientation) = 0;
    /// A photo is done: copied or moved (its turn may still come), left alone, or failed.
    virtual void PhotoDone(const TRunCounts& counts) = 0;
    /// A photo was turned upright, or could not be.
    virtual void TurnEnded(const TRunCounts& counts) = 0;
};

/// One transfer run: copies or moves the photos of a card into their day folders below "Eigene Bilder" in
/// the documents folder, and hands those taken sideways to turning workers while the next ones are copied.
/// It owns its records (one per photo, with what became of it and why), their counts, the turning workers
/// and the day folders it cleaned. The platform, the log and the progress must outlive it.
class TTransferRun
{
public:
    TTransferRun(TPlatform& platform, TImportLog& log, TRunProgress& progress, const TRunOptions& options,
                 TRunTools tools = {});
    ~TTransferRun();
    TTransferRun(const TTransferRun&) = delete;
    TTransferRun& operator=(const TTransferRun&) = delete;

    /// Transfers the photos, listed from the camera folder cameraPath, in their order, and returns when the
    /// last turn is saved. An empty list writes nothing but the log's lines. Runs on a thread of its own;
    /// the progress is told on that thread.
    /// What of the card could not be read (unreadable: a folder that cannot be listed, with the reason)
    /// counts as not transferred. With judgeCard, every file below cameraPath is looked at afterwards
    /// (Verdict).
    void Run(const std::string& cameraPath, const std::vector<std::string>& photos,
             const std::vector<TResult>& unreadable = {}, bool judgeCard = true);
    /// The program ends: no further photo is started, the copies in hand are finished, photos that wait to
    /// be turned stay as copied (not turned), those being turned are saved, and the run ends as usual.
    /// Photos not started stay on the card, and so do moved photos that were not turned.
    void Stop() { FStopping = true; }
    /// Photos begun so far, and those of them completed (their copy named, or their failure known); safe to
    /// ask from any thread while the run goes on. The difference is in hand: read, or staged in a group of
    /// copies that are flushed and named together.
    int Started() const { return FStarted; }
    int Completed() const { return FCompleted; }

    /// The documents folder followed by "Eigene Bilder".
    const std::string& TargetBase() const { return FTargetBase; }
    const TRunCounts& Counts() const { return FCounts; }
    /// Every photo handled, in the order they were handled.
    const std::vector<TPhotoRecord>& Records() const { return FRecords; }
    /// What stays on the card after the run, and whether it may be formatted.
    const TCardVerdict& Verdict() const { return FVerdict; }

private:
    struct TPhotoPass;
    struct TPlace;

    TPhotoPass PreparePhoto(const std::string& photo, TStringList& metaList, const TResult& targetBase,
                            const std::vector<TPhotoPass>& inFlight);
    bool ReadMetadata(const std::string& photo, TStringList& metaList);
    void PlacePhoto(const std::string& photo, const TStringList& metaList, const std::string& dayFolder,
                    const TResult& targetBase, const std::vector<TPhotoPass>& inFlight, TPhotoPass& pass);
    /// The photo's place in its day folder: its own name or the first free alternative, unless a file under
    /// one of these names is this photo already. A copy with the photo's bytes of a photo due a turn (an
    /// earlier run was ended before it turned it) is turned now.
    TPlace FindPlace(const std::string& photo, const std::string& name, const std::string& dayFolder,
                     const TStringList& metaList, int orientation, const std::vector<TPhotoPass>& inFlight);
    enum class TSameness
    {
        Other,
        SameBytes,
        TurnedCopy
    };
    /// Whether the file target is the photo: the same bytes, or the copy this program turned upright.
    TSameness IsThisPhoto(const std::string& photo, const TStringList& metaList, const std::string& target);
    /// Whether a photo that could not be transferred was taken by another program meanwhile (its
    /// record's reason then says so).
    bool TakenElsewhere(TPhotoRecord& record);
    /// Whether the file can be read to its end.
    static bool ReadsBack(const std::string& file);
    /// Looks at every file below the card's DCIM folder after the run: the verdict, also in the log.
    void JudgeTheCard(const std::string& cameraPath);
    /// Removes what interrupted runs left in a day folder, once per run.
    void CleanDayFolder(const std::string& folder);
    void CompletePhoto(TPhotoPass& pass);
    /// Hands the photo of record index to the turning workers, taking in ended turns while it waits for room.
    void HandOverTurn(size_t index, const std::string& file, int orientation);
    /// Takes in the turns that have ended, waiting up to patience for one.
    void CollectTurns(std::chrono::milliseconds patience);
    /// abandoned: the turn was not begun or finished as the program ends.
    void TurnEnded(const TTurnDone& done, bool abandoned = false);
    void SetOutcome(TPhotoRecord& record, TPhotoOutcome outcome);

    TPlatform& FPlatform;
    TImportLog& FLog;
    TRunProgress& FProgress;
    const TRunOptions FOptions;
    TRunTools FTools;
    std::string FTargetBase;
    /// One corrector per turning worker.
    std::vector<std::unique_ptr<TOrientationCorrector>> FCorrectors;
    std::unique_ptr<TTurnPool> FTurns;
    std::atomic<bool> FStopping = false;
    std::atomic<int> FStarted = 0;
    std::atomic<int> FCompleted = 0;
    std::vector<TPhotoRecord> FRecords;
    TRunCounts FCounts;
    TCardVerdict FVerdict;
    std::string FCameraPath;
    /// Day folders this run made.
    std::vector<std::string> FMadeFolders;
    /// Day folders this run has cleaned of left-over temporary files.
    std::set<std::string> FCleanedFolders;
};
