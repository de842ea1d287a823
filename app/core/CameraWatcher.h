#pragma once

#include "app/core/Correction.h"
#include "app/core/ImportLog.h"
#include "app/core/PhotoRecord.h"
#include "app/core/TurnPool.h"
#include "app/core/WatcherView.h"
#include "base/BoundedCalls.h"
#include "base/StringList.h"
#include "platform/Platform.h"

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

/// The day folder name YYYYMMDD of an EXIF date-time text
/// ("2005:07:14 10:22:33"): its first ten characters without the colons,
/// when they form eight digits naming a real calendar day. Empty otherwise,
/// so that no text from a card can name a folder of its own choosing.
std::string DayFolderFromExifDate(const std::string& value);
/// The day folder name YYYYMMDD of a calendar day; empty when it is no real day.
std::string DayFolderFromDate(const TLocalDate& date);
/// The orientation of an EXIF Orientation value text: the value when it is
/// exactly one digit, else 0 (no orientation).
int OrientationFromValue(const std::string& value);
/// The name a photo goes under when its own (index 0) is taken by another
/// photo: NAME_1.EXT, NAME_2.EXT, ..., the extension kept as it was. A name
/// without an extension (or a hidden one, ".x") takes the suffix at its end.
std::string AlternativeName(const std::string& name, int index);
/// Whether copy is the copy this program turned upright of the photo whose
/// sorted metadata list is photo (both as ReadExifInfo gives them), judged by
/// the lists alone; the caller also compares the files' modification times.
bool IsTurnedCopyOf(const TStringList& copy, const TStringList& photo);

/// How long the tick waits for drives that answer slowly: phones, cameras, a stale mount. Each drive is
/// asked on a worker thread of its own; one that has not answered when the patience is used up is passed
/// over for that tick, and the window goes on. A drive that keeps being slow is no longer waited for: its
/// answers come one tick late, and one that stopped answering counts as gone after a few seconds.
struct TWatcherPatience
{
    /// For whether the drives are ready and hold DCIM, all asked at once.
    std::chrono::milliseconds Drives{300};
    /// For the first listing of a camera's photos; a camera whose list is shown already is listed again
    /// with the drives' patience, and its list stands until the new one is there.
    std::chrono::milliseconds Listing{1000};
};

/// The camera watcher: the state of the main window (flags, paths, the photo
/// list) and the handlers that drive it. Everything it shows goes through the
/// view, everything it asks of the system through the platform; both must
/// outlive the watcher.
class TCameraWatcher
{
public:
    TCameraWatcher(TPlatform& platform, TWatcherView& view);
    virtual ~TCameraWatcher() = default;
    TCameraWatcher(const TCameraWatcher&) = delete;
    TCameraWatcher& operator=(const TCameraWatcher&) = delete;

    /// Window creation: the present attachment is not handled yet.
    void FormCreate();
    void SetPatience(const TWatcherPatience& patience);
    /// The one-second tick: looks for a card on the drives E..Z (the highest
    /// letter wins) and, while its attachment is not handled, shows the
    /// window and lists the card's photos. Drives are asked on worker threads
    /// with the patience set; one that does not answer in time, or whose photos
    /// cannot be listed in time, is passed over for this tick.
    void Timer1Timer();
    /// "Fenster Schliessen": hides the window and re-arms the watcher.
    void Button1Click();
    /// The window was hidden or minimised in any other way (the tray menu, the window manager's close).
    /// After a finished run this re-arms the watcher as "Fenster Schliessen" does, so the next card is not
    /// missed; otherwise nothing changes.
    void WindowHidden();
    /// A volume the user opened the program with (the desktop offers the program for a card it mounts):
    /// when root holds DCIM, that card is looked at at once, as a tick finds a card, even when a card was
    /// dismissed or a run has finished before; later ticks keep looking at it, before every drive, as long
    /// as its DCIM is there. False, and nothing changes, when root holds no DCIM or does not answer in time.
    /// Not to be called while a transfer run is going on.
    bool OfferVolume(const std::string& root);
    /// "Fotos kopieren": copies or moves every listed photo into its day
    /// folder, then ends in the transfer-finished state. Photos to be turned
    /// upright are turned on worker threads while the next ones are copied;
    /// the run returns when the last turn is saved.
    void Button2Click();
    /// The program ends during a run (called from the view's Repaint): no
    /// further photo is started, the copies in hand are finished, photos that
    /// wait to be turned stay as copied (not turned), those being turned are
    /// saved, and the run ends as usual. Photos not started stay on the card.
    void StopRun() { FStopping = true; }
    /// How many photos are turned at once; 0 (the default): one per processor the program may run on.
    void SetTurnWorkers(int workers) { FTurnWorkers = workers; }

    bool CameraFound() const { return FCameraFound; }
    /// A run has finished and the watcher waits for the window to be dismissed.
    bool RunFinished() const { return FRunFinished; }
    bool CameraHandled() const { return FCameraHandled; }
    const std::string& CameraPath() const { return FCameraPath; }
    /// The photos of the card in discovery order (the invisible list box).
    const TStringList& PhotoList() const { return FPhotoList; }
    const std::string& TargetBase() const { return FTargetBase; }
    const std::string& DayFolder() const { return FDayFolder; }
    const std::string& TargetFile() const { return FTargetFile; }
    int PhotoOrientation() const { return FPhotoOrientation; }

    /// Counts of the last transfer run.
    int TransferredCount() const { return FTransferredCount; }
    int RotatedCount() const { return FRotatedCount; }
    /// Photos not transferred.
    int FailedCount() const { return FFailedCount; }
    /// Photos transferred that could not be turned upright.
    int TurnFailedCount() const { return FTurnFailedCount; }
    /// Every photo of the last transfer run, in the order they were handled.
    const std::vector<TPhotoRecord>& PhotoRecords() const { return FRecords; }

protected:
    /// Reads the photo's EXIF entries into metaList as Name=Value lines; may throw.
    virtual bool ReadPhotoInfo(const std::string& photo, TStringList& metaList);
    /// Hands a transferred photo to the orientation correction. Runs on a
    /// turning worker, with that worker's own corrector, beside other workers.
    virtual TCorrectionResult CorrectPhoto(TOrientationCorrector& corrector, const std::string& targetFile,
                                           int orientation);

private:
    enum class TPhotoResult
    {
        Transferred,
        Skipped,
        Failed,
        Pending ///< a copy staged but not yet named
    };
    /// One photo between its preparation and its completion.
    struct TPhotoPass
    {
        std::string TargetFile;
        int Orientation = 0;
        TPhotoResult Result = TPhotoResult::Skipped;
        std::unique_ptr<TStagedCopy> Copy;
        TPhotoRecord Record;
    };

    /// Asks, on a worker thread, whether the drive at root is ready and holds DCIM.
    void AskDrive(const std::string& root);
    /// Lists the photos below cameraPath into the photo list, waiting for them with the listing's patience.
    /// False when they are not there in time and the list does not already hold this camera's photos.
    bool ListPhotos(const std::string& cameraPath);
    /// The tick's steps for a camera whose attachment is not handled and whose photos are listed: show the
    /// window and the count.
    void ShowCamera();
    /// The steps of "Fenster Schliessen"; hideWindow: the window is still to be hidden.
    void Rearm(bool hideWindow);
    TPhotoPass PreparePhoto(const std::string& photo, TStringList& metaList, const TResult& targetBase,
                            const std::vector<TPhotoPass>& inFlight);
    bool ReadMetadata(const std::string& photo, TStringList& metaList);
    TPhotoResult PlacePhoto(const std::string& photo, const TStringList& metaList, bool dated,
                            const TResult& targetBase, const std::vector<TPhotoPass>& inFlight,
                            TPhotoPass& pass);
    /// Finds the photo's place in FDayFolder: its own name or the first free
    /// alternative (into FTargetFile), unless a file under one of these names
    /// is this photo already (Skipped).
    TPhotoResult FindPlace(const std::string& photo, const std::string& name, const TStringList& metaList,
                           const std::vector<TPhotoPass>& inFlight, TPhotoPass& pass);
    /// Whether the file target is the photo: the same bytes, or the copy this
    /// program turned upright.
    bool IsThisPhoto(const std::string& photo, const TStringList& metaList, const std::string& target);
    /// Removes what interrupted runs left in a day folder, once per run.
    void CleanDayFolder(const std::string& folder);
    void CompletePhoto(TPhotoPass& pass);
    /// Whether the photo is to be turned once it is transferred.
    bool TurnDue(const TPhotoPass& pass) const;
    /// Hands the photo of record index to the turning workers, taking in ended turns while it waits for room.
    void HandOverTurn(size_t index, const std::string& file, int orientation);
    /// Takes in the turns that have ended, waiting up to patience for one.
    void CollectTurns(std::chrono::milliseconds patience);
    void TurnEnded(TTurnDone& done);
    /// The photos handed over and not turned, as the program ends.
    void TurnsAbandoned(std::vector<TTurnJob> jobs);
    /// Moves the progress to the photos done: copied and, where due, turned.
    void ShowProgress();
    /// Paints the window now (and lets the view take its pending events).
    void Paint();
    void EndRun();

    TPlatform& FPlatform;
    TWatcherView& FView;
    /// One corrector per turning worker, kept from run to run.
    std::vector<std::unique_ptr<TOrientationCorrector>> FCorrectors;
    int FTurnWorkers = 0;
    /// The turning workers of the run going on.
    std::unique_ptr<TTurnPool> FTurns;
    bool FStopping = false;
    /// When the run last painted the window.
    std::chrono::steady_clock::time_point FLastPaint;
    TImportLog FLog;
    std::shared_ptr<TDriveQueries> FQueries;
    TWatcherPatience FPatience;
    TBoundedCalls<bool> FDriveAnswers;
    TBoundedCalls<std::vector<std::string>> FListings;
    /// The camera folder the photo list was made from; empty when the list belongs to no attached camera.
    std::string FListedPath;

    bool FCameraFound = false;
    bool FCameraHandled = false;
    std::string FCameraPath;
    bool FRunFinished = false;
    /// The volume the user opened the program with; empty when none or once its DCIM has gone.
    std::string FOfferedRoot;
    TStringList FPhotoList;
    std::string FTargetBase;
    std::string FDayFolder;
    std::string FTargetFile;
    int FPhotoOrientation = 0;

    int FTransferredCount = 0;
    int FRotatedCount = 0;
    int FFailedCount = 0;
    int FTurnFailedCount = 0;
    std::vector<TPhotoRecord> FRecords;
    /// Day folders this run has cleaned of left-over temporary files.
    std::set<std::string> FCleanedFolders;
};
