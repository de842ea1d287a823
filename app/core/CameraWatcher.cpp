#include "app/core/CameraWatcher.h"

#include "app/core/WindowTexts.h"

#include <algorithm>
#include <set>
#include <utility>

namespace {

std::string Count(int n, const char* text)
{
    return std::to_string(n) + text;
}

/// The second panel after a turn has ended: how many photos were turned, and how many could not be.
std::string TurnedText(const TRunCounts& counts)
{
    if (counts.NotTurned == 0)
        return Count(counts.Turned, kTextPhotosTurned);
    if (counts.Turned == 0)
        return Count(counts.NotTurned, kTextPhotosNotTurned);
    return Count(counts.Turned, kTextTurnedAnd) + Count(counts.NotTurned, kTextAndNotTurned);
}

bool InTarget(TPhotoOutcome outcome)
{
    return outcome == TPhotoOutcome::Transferred || outcome == TPhotoOutcome::Turned ||
           outcome == TPhotoOutcome::TurnFailed;
}

} // namespace

TCameraWatcher::TCameraWatcher(TPlatform& platform, TWatcherWindow& window, TRunTools tools)
    : FPlatform(platform)
    , FWindow(window)
    , FTools(std::move(tools))
    , FLog(platform)
    , FScanner(platform)
{
}

TCameraWatcher::~TCameraWatcher()
{
    // A run still going on when the window goes is stopped after the photos in hand.
    if (FRunThread.joinable()) {
        FRun->Stop();
        FRunThread.join();
    }
}

void TCameraWatcher::Start()
{
    FCameraHandled = false;
}

const std::string& TCameraWatcher::TargetBase() const
{
    static const std::string kNone;
    return FRun ? FRun->TargetBase() : kNone;
}

const TRunCounts& TCameraWatcher::RunCounts() const
{
    static const TRunCounts kNone;
    return FRun ? FRun->Counts() : kNone;
}

const std::vector<TPhotoRecord>& TCameraWatcher::PhotoRecords() const
{
    static const std::vector<TPhotoRecord> kNone;
    return FRun ? FRun->Records() : kNone;
}

std::string TCameraWatcher::PhotosFolder() const
{
    if (!FRunEnded || Running() || !FRun)
        return {};
    // The day folders this run put photos into: a record's target is its day folder joined with its name.
    std::set<std::string> dayFolders;
    for (const TPhotoRecord& record : FRun->Records()) {
        const std::string name = FPlatform.ExtractFileName(record.Target);
        if (InTarget(record.Outcome) && !name.empty() && record.Target.size() > name.size())
            dayFolders.insert(record.Target.substr(0, record.Target.size() - name.size() - 1));
    }
    if (dayFolders.size() == 1 && FPlatform.DirectoryExists(*dayFolders.begin()))
        return *dayFolders.begin();
    const std::string& base = FRun->TargetBase();
    return FPlatform.DirectoryExists(base) ? base : std::string();
}

std::string TCameraWatcher::LogToShow() const
{
    if (!FRunEnded || Running() || !FRun)
        return {};
    const TRunCounts& counts = FRun->Counts();
    const bool toRead =
        counts.Failed > 0 || counts.NotTurned > 0 || counts.KeptOnCard > 0 || FRun->Verdict().Stays() > 0;
    const std::string path = FLog.Path();
    return toRead && !path.empty() && FPlatform.FileExists(path) ? path : std::string();
}

void TCameraWatcher::DropLinks()
{
    FState.MessageShowsPhotos = false;
    FState.StatusShowsLog = false;
}

void TCameraWatcher::TakeList(const TCameraScan& scan)
{
    if (!scan.Photos)
        return;
    FUnreadable = scan.Unreadable;
    FPhotoList.BeginUpdate();
    FPhotoList.Clear();
    for (const std::string& photo : *scan.Photos)
        FPhotoList.Add(photo);
    FPhotoList.EndUpdate();
}

void TCameraWatcher::Tick()
{
    // Each card of a reader, each storage of a phone is an attachment of its own. One that is handled
    // (transferred or dismissed) is only looked for, not listed again, while the next one that is not is
    // offered; one that has gone is a new attachment when it comes again.
    std::vector<std::string> cameras;
    const TCameraScan scan = FScanner.Scan(
        true, [this](const std::string& camera) { return !FHandled.contains(camera); }, &cameras);
    std::erase_if(FHandled, [&](const std::string& camera) {
        return std::find(cameras.begin(), cameras.end(), camera) == cameras.end();
    });
    FCameraCount = static_cast<int>(cameras.size());
    if (scan.Found) {
        FCameraFound = true;
        FCameraHandled = false;
        FCameraPath = scan.CameraPath;
        TakeList(scan);
        ShowCamera();
        return;
    }
    // The card shown is handled and still there: nothing changes.
    FCameraFound = FCameraHandled && !FHandled.empty();
    if (FCameraFound) {
        FCameraPath = *std::find_if(cameras.rbegin(), cameras.rend(),
                                    [this](const std::string& camera) { return FHandled.contains(camera); });
        return;
    }
    {
        FCameraHandled = false;
        FHandled.clear();
        FState.TransferEnabled = false;
        FState.TrayHint = kTextWaitForCamera;
        FState.Caption = kTextWaitForCamera;
        FState.Message = kTextNoCamera;
        FState.Panel1 = kTextNoCamera;
        FState.Panel2.clear();
        FState.QuitEnabled = true;
        DropLinks();
        Render();
    }
}

void TCameraWatcher::ShowCamera()
{
    FWindow.Show();
    FState.ProgressMax = FPhotoList.Count();
    FState.TransferEnabled = true;
    // With several cards or storages attached, the title and the tray tip say which one is shown.
    const std::string delim(1, FPlatform.PathDelim());
    std::string root = FCameraPath.substr(0, FCameraPath.rfind(delim + "DCIM"));
    const std::string storage = FPlatform.ExtractFileName(root);
    FState.TrayHint = FCameraCount > 1 && !storage.empty() ? kTextFetchingPhotos + std::string(": ") + storage
                                                           : kTextFetchingPhotos;
    FState.Caption = FState.TrayHint;
    FState.Message = Count(FPhotoList.Count(), kTextPhotosFound);
    FState.Panel1 = FState.Message;
    DropLinks();
    Render();
}

bool TCameraWatcher::OfferVolume(const std::string& root)
{
    const std::optional<TCameraScan> scan = FScanner.Offer(root);
    if (!scan)
        return false;
    // The user asked for this card: whatever was dismissed or transferred before, it is a new attachment,
    // and the watcher runs again as after "Fenster Schliessen". A device too slow to list its photos now
    // shows them at a later tick.
    FRunFinished = false;
    FState.Ticking = true;
    FState.ProgressPosition = 0;
    FState.TurnCaption = kTextTurnIfPossible;
    FState.TurnEnabled = true;
    FCameraHandled = false;
    FHandled.erase(scan->CameraPath);
    DropLinks();
    if (scan->Found) {
        FCameraFound = true;
        FCameraPath = scan->CameraPath;
        TakeList(*scan);
        ShowCamera();
    } else {
        Render();
    }
    return true;
}

void TCameraWatcher::Dismiss()
{
    Rearm(true);
}

void TCameraWatcher::WindowHidden()
{
    // The window is hidden already; the other steps are those of "Fenster Schliessen".
    if (FRunFinished)
        Rearm(false);
}

void TCameraWatcher::Rearm(bool hideWindow)
{
    FRunFinished = false;
    FState.Ticking = true;
    FCameraHandled = true;
    FHandled.insert(FCameraPath);
    FState.Message = kTextWaitForPhotos;
    FState.ProgressPosition = 0;
    DropLinks();
    if (hideWindow)
        FWindow.Hide();
    FState.TurnCaption = kTextTurnIfPossible;
    FState.TurnEnabled = true;
    Render();
}

void TCameraWatcher::Transfer(const TRunOptions& options)
{
    if (Running())
        return;
    FState.Ticking = false;
    FState.TransferEnabled = false;
    // What the last run left to show goes with it.
    FRunEnded = false;
    FState.PhotosToShow = false;
    FState.LogToShow = false;
    DropLinks();
    Render();
    // A card dismissed with "Fenster Schliessen" and still attached keeps the button enabled: pressing it
    // asks for exactly that card, so its photos are listed afresh and transferred. A device that cannot
    // list them in time gives nothing rather than another camera's list.
    const bool dismissed = FCameraHandled && FCameraFound;
    if (dismissed) {
        const TCameraScan scan = FScanner.List(FCameraPath);
        if (scan.Found) {
            TakeList(scan);
        } else {
            FPhotoList.Clear();
            FUnreadable.clear();
        }
        FState.ProgressMax = FPhotoList.Count();
        Render();
    }
    // The card of this attachment: what stays on it is told after the run, also when it holds no photo.
    const bool runs = (FPhotoList.Count() > 0 || !FUnreadable.empty()) && (!FCameraHandled || dismissed);
    const bool thisCard = FCameraFound && (!FCameraHandled || dismissed);
    if (runs)
        FWindow.Show();
    TRunProgress& progress = *this;
    FRun = std::make_unique<TTransferRun>(FPlatform, FLog, progress, options, FTools);
    FState.Busy = true;
    Render();
    std::vector<std::string> photos = runs ? FPhotoList.Items() : std::vector<std::string>{};
    FRunPhotos = static_cast<int>(photos.size());
    std::vector<TResult> unreadable = runs ? FUnreadable : std::vector<TResult>{};
    FRunThread = std::thread([this, photos = std::move(photos), unreadable = std::move(unreadable),
                              camera = FCameraPath, thisCard] {
        std::exception_ptr error;
        try {
            FRun->Run(camera, photos, unreadable, thisCard);
        } catch (const std::exception&) {
            error = std::current_exception();
        }
        FWindow.Post([this, error] { RunReturned(error); });
    });
}

void TCameraWatcher::RunReturned(std::exception_ptr error)
{
    FRunThread.join();
    FState.Busy = false;
    // A run that failed as a whole leaves the window as its last photo left it, the timer off, and the
    // exception is shown.
    if (!error)
        EndRun();
    Render();
    FWindow.TransferEnded();
    if (error)
        std::rethrow_exception(error);
}

void TCameraWatcher::StopRun()
{
    if (FState.Busy)
        FRun->Stop();
}

void TCameraWatcher::AbandonRun()
{
    if (!Running())
        return;
    FRun->Stop();
    // Completed first: a photo is started before it is completed, so the photos in hand never count below 0.
    const int completed = FRun->Completed();
    const int started = FRun->Started();
    FLog.RunAbandoned(started - completed, std::max(FRunPhotos - started, 0));
    FPlatform.AbandonTemporaries();
    // The thread may never come back from the device: it keeps what it uses to the end of the process.
    FRunThread.detach();
    static_cast<void>(FRun.release());
}

// The run tells its progress on its own thread; the window's state changes on the window's.
void TCameraWatcher::PhotoRead(bool hasOrientation)
{
    FWindow.Post([this, hasOrientation] {
        FState.TurnCaption = hasOrientation ? kTextTurning : kTextNoAutoTurn;
        FState.TurnEnabled = hasOrientation;
        Render();
    });
}

void TCameraWatcher::PhotoDone(const TRunCounts& counts)
{
    FWindow.Post([this, counts] {
        FState.Message = Count(counts.Transferred, kTextPhotosCopied);
        FState.Panel1 = FState.Message;
        FState.ProgressPosition = counts.Transferred;
        Render();
    });
}

void TCameraWatcher::TurnEnded(const TRunCounts& counts)
{
    FWindow.Post([this, counts] {
        FState.Panel2 = TurnedText(counts);
        Render();
    });
}

void TCameraWatcher::EndRun()
{
    const TRunCounts& counts = FRun->Counts();
    FCameraFound = false;
    FCameraHandled = true;
    FHandled.insert(FCameraPath);
    FRunFinished = true;
    const bool failures = counts.Failed > 0;
    FState.TrayHint = failures ? kTextTransferFaults : kTextPhotosTransferred;
    // The title says what the user wants to know next: whether the card may be formatted now.
    const TCardVerdict& verdict = FRun->Verdict();
    FState.Caption = !verdict.Checked           ? kTextTransferEnded
                     : verdict.MayBeFormatted() ? kTextCardMayBeFormatted
                                                : Count(verdict.Stays(), kTextFilesStayOnCard);
    if (failures) {
        FState.Message = kTextTransferEndedWithFaults;
        FState.Panel1 = Count(counts.Failed, kTextPhotosNotTransferred);
    } else {
        FState.Message = counts.Transferred >= 1 ? kTextTransferEnded : kTextNoNewPhotos;
    }
    FState.QuitEnabled = true;
    FState.TransferEnabled = false;
    FRunEnded = true;
    FState.PhotosToShow = !PhotosFolder().empty();
    FState.LogToShow = !LogToShow().empty();
    FState.MessageShowsPhotos = FState.PhotosToShow;
    FState.StatusShowsLog = FState.LogToShow;
    Render();
}
