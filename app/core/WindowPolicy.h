#pragma once

#include "app/core/CameraWatcher.h"
#include "app/core/FrontEnd.h"

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

/// When the main window shows, hides or minimises, and when the program ends: the same on every desktop
/// and toolkit. A front end reports what happens (clicks, ticks, its window minimised or closed, a tray
/// coming or going, volumes offered, the end asked for) and carries out the commands that come back
/// through TFrontEnd. Owns the camera watcher. Without a tray the window is minimised wherever it would be
/// hidden, so that the program stays in the desktop's task list; only the first appearance for a card takes
/// the keyboard from what the user is typing into.
class TWindowPolicy : private TWatcherWindow
{
public:
    /// platform and frontEnd must outlive the policy.
    TWindowPolicy(TPlatform& platform, TFrontEnd& frontEnd, TRunTools tools = {});

    TCameraWatcher& Watcher() { return FWatcher; }
    const TCameraWatcher& Watcher() const { return FWatcher; }

    /// The window and its tray icon are built: the window shows its first state, and shows itself when
    /// there is no tray, which would leave no trace of the program otherwise.
    void Start(bool trayAvailable);
    /// The one-second tick; the front end runs its timer while the state says Ticking.
    void Tick();
    /// "Fotos kopieren" with the options as the window shows them. The run works beside the window, whose
    /// controls take no input until it ends. Volumes offered meanwhile wait for the end of the run; the end
    /// of the program asked for meanwhile stops the run and then ends it.
    void Transfer(const TRunOptions& options);
    /// "Fenster Schliessen".
    void Dismiss();
    /// A click on the tray icon, "Fenster öffnen", a second start of the program.
    void OpenWindow();
    /// "Fenster schliessen" in the tray menu, the window manager's close button.
    void CloseWindow();
    /// The window went out of sight in another way: hidden (the tray's double click) or minimised.
    void WindowHidden();
    /// The user minimised the window.
    void WindowMinimised();
    /// The desktop's tray came or went.
    void TrayChanged(bool available);
    /// A volume (a mounted card's folder) the program was opened with: looked at at once, and the window
    /// shows, also for a folder that is no card.
    void OfferVolume(const std::string& root);
    /// "Beenden", or the end of the session: the program ends, after the photos in hand when a run goes on.
    /// A run held by a device that does not answer is cut off after kStopPatience.
    void EndRequested();
    /// Called by the front end a few times a second: ends a program whose run does not stop in time.
    void Poll();
    /// "Fotos anzeigen": the desktop's file manager opens the folder that holds the last run's photos
    /// (TCameraWatcher::PhotosFolder). "Protokoll anzeigen": the import log opens, when the last run left
    /// something in it to read. Nothing happens when there is nothing to show; throws when the desktop
    /// cannot open it.
    void ShowPhotos();
    void ShowLog();
    /// A click on the message or on the status bar: at the end of a run they show the photos and the log.
    void MessageClicked();
    void StatusClicked();
    static constexpr std::chrono::milliseconds kStopPatience{1500};

    bool InRun() const { return FInRun; }
    bool Ending() const { return FEnding; }
    bool TrayAvailable() const { return FTrayAvailable; }

private:
    void Render(const TWindowState& state) override { FFrontEnd.Render(state); }
    void Show() override { ShowForm(!FActivatedOnce); }
    void Hide() override { HideForm(); }
    void Post(std::function<void()> task) override { FFrontEnd.Post(std::move(task)); }
    void TransferEnded() override;

    void ShowForm(bool activate);
    void HideForm();

    TFrontEnd& FFrontEnd;
    TCameraWatcher FWatcher;
    bool FInRun = false;
    bool FEnding = false;
    /// When the end was asked for during a run.
    std::chrono::steady_clock::time_point FEndAskedAt;
    bool FActivatedOnce = false;
    bool FTrayAvailable = true;
    /// The window shows only because there was no tray at start.
    bool FShownForMissingTray = false;
    std::vector<std::string> FWaitingVolumes;
};
