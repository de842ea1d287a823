#pragma once

#include "app/core/CardScanner.h"
#include "app/core/FrontEnd.h"
#include "app/core/ImportLog.h"
#include "app/core/TransferRun.h"
#include "base/StringList.h"
#include "platform/Platform.h"

#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

/// The main window as the camera watcher drives it.
class TWatcherWindow
{
public:
    virtual ~TWatcherWindow() = default;
    /// Shows the window's state; called whenever it changed.
    virtual void Render(const TWindowState& state) = 0;
    /// A card waits: the window is shown and comes to the front.
    virtual void Show() = 0;
    /// The card was dismissed: the window goes.
    virtual void Hide() = 0;
    /// Runs task on the window's thread, after what is queued there; called from any thread.
    virtual void Post(std::function<void()> task) = 0;
    /// A transfer run has ended (its end state is rendered), or it ended with an exception.
    virtual void TransferEnded() = 0;
};

/// The camera watcher: the state machine of the main window (a card found, handled, a run finished), the
/// photo list of the card, and what the window shows in each state. It asks the card scanner which camera
/// and which photos there are, and runs one transfer run per "Fotos kopieren". The platform and the window
/// must outlive the watcher.
class TCameraWatcher : private TRunProgress
{
public:
    TCameraWatcher(TPlatform& platform, TWatcherWindow& window, TRunTools tools = {});
    ~TCameraWatcher() override;
    TCameraWatcher(const TCameraWatcher&) = delete;
    TCameraWatcher& operator=(const TCameraWatcher&) = delete;

    /// The window is made: the present attachment is not handled yet.
    void Start();
    void SetPatience(const TWatcherPatience& patience) { FScanner.SetPatience(patience); }
    /// How many photos are turned at once; 0 (the default): one per processor the program may run on.
    void SetTurnWorkers(int workers) { FTools.TurnWorkers = workers; }
    /// The one-second tick: looks for a card on the drives E..Z (the highest letter wins) and, while its
    /// attachment is not handled, shows the window and lists the card's photos. A drive or a listing that
    /// does not answer in time is passed over for this tick.
    void Tick();
    /// "Fenster Schliessen": hides the window and re-arms the watcher.
    void Dismiss();
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
    /// "Fotos kopieren": copies or moves every listed photo into its day folder as the options say, then
    /// ends in the transfer-finished state. The run works on a thread of its own and returns at once; what
    /// it does reaches the window through its Post, and the window's TransferEnded follows its end.
    void Transfer(const TRunOptions& options);
    /// A transfer run goes on.
    bool Running() const { return FRunThread.joinable(); }
    /// The program ends during a run: see TTransferRun::Stop.
    void StopRun();
    /// The program ends while the run still waits for a device: the log says what was not begun and the
    /// temporary files in hand are removed; the run's thread is left to the end of the process.
    void AbandonRun();

    const TWindowState& State() const { return FState; }
    bool CameraFound() const { return FCameraFound; }
    /// A run has finished and the watcher waits for the window to be dismissed.
    bool RunFinished() const { return FRunFinished; }
    bool CameraHandled() const { return FCameraHandled; }
    const std::string& CameraPath() const { return FCameraPath; }
    /// The photos of the card in discovery order (the invisible list box).
    const TStringList& PhotoList() const { return FPhotoList; }
    /// The documents folder followed by "Eigene Bilder", as the last run took it.
    const std::string& TargetBase() const;
    /// The counts of the last run.
    const TRunCounts& RunCounts() const;
    /// Every photo of the last run, in the order they were handled.
    const std::vector<TPhotoRecord>& PhotoRecords() const;
    /// The folder that holds the photos of the last run that ended: the day folder when the run put
    /// photos into one only, else "Eigene Bilder". Empty before such a run, during a run, and when that
    /// folder is not there.
    std::string PhotosFolder() const;
    /// The import log when the last run that ended left something in it to read: photos that failed,
    /// were not turned or stayed on the card in move mode, or files that stay on the card. Empty otherwise,
    /// and when there is no log file.
    std::string LogToShow() const;

private:
    void PhotoRead(bool hasOrientation) override;
    void PhotoDone(const TRunCounts& counts) override;
    void TurnEnded(const TRunCounts& counts) override;
    /// On the window's thread, once the run's thread has returned.
    void RunReturned(std::exception_ptr error);

    /// Takes a listing into the photo list; a scan without one leaves the list shown.
    void TakeList(const TCameraScan& scan);
    /// The tick's steps for a camera whose attachment is not handled and whose photos are listed: show the
    /// window and the count.
    void ShowCamera();
    /// The steps of "Fenster Schliessen"; hideWindow: the window is still to be hidden.
    void Rearm(bool hideWindow);
    void EndRun();
    /// The links of the window's end state go, when it is left.
    void DropLinks();
    void Render() { FWindow.Render(FState); }

    TPlatform& FPlatform;
    TWatcherWindow& FWindow;
    TRunTools FTools;
    TImportLog FLog;
    TCardScanner FScanner;
    /// The run going on, or the last one.
    std::unique_ptr<TTransferRun> FRun;
    std::thread FRunThread;
    /// Photos handed to the run going on.
    int FRunPhotos = 0;
    TWindowState FState;

    bool FCameraFound = false;
    bool FCameraHandled = false;
    std::string FCameraPath;
    bool FRunFinished = false;
    /// The camera folders attached now whose attachment is handled (transferred or dismissed).
    std::set<std::string> FHandled;
    /// How many cards or storages qualified at the last tick.
    int FCameraCount = 0;
    /// The last run ended as usual, and its records tell where its photos went.
    bool FRunEnded = false;
    TStringList FPhotoList;
    /// What of the card the photo list was made from could not be read.
    std::vector<TResult> FUnreadable;
};
