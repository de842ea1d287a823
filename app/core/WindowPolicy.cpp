#include "app/core/WindowPolicy.h"

#include "app/core/WindowTexts.h"
#include "base/SysUtils.h"

#include <utility>

TWindowPolicy::TWindowPolicy(TPlatform& platform, TFrontEnd& frontEnd, TRunTools tools)
    : FFrontEnd(frontEnd)
    , FWatcher(platform, *this, std::move(tools))
{
}

void TWindowPolicy::Start(bool trayAvailable)
{
    FWatcher.Start();
    FFrontEnd.Render(FWatcher.State());
    FTrayAvailable = trayAvailable;
    if (!trayAvailable) {
        ShowForm(true);
        FShownForMissingTray = true;
    }
}

void TWindowPolicy::Tick()
{
    FWatcher.Tick();
}

void TWindowPolicy::Transfer(const TRunOptions& options)
{
    if (FInRun)
        return;
    FInRun = true;
    FWatcher.Transfer(options);
}

void TWindowPolicy::TransferEnded()
{
    FInRun = false;
    // The program ends: nothing more is shown.
    if (FEnding) {
        FFrontEnd.Quit();
        return;
    }
    // Hidden or minimised while the run went on: the finished run re-arms the watcher at once.
    if (FFrontEnd.WindowShow() != TWindowShow::Shown)
        FWatcher.WindowHidden();
    for (const std::string& volume : std::exchange(FWaitingVolumes, {}))
        OfferVolume(volume);
}

void TWindowPolicy::Dismiss()
{
    FWatcher.Dismiss();
}

void TWindowPolicy::OpenWindow()
{
    ShowForm(true);
}

void TWindowPolicy::CloseWindow()
{
    HideForm();
}

void TWindowPolicy::WindowHidden()
{
    // A run going on may paint and take events while it works; it is looked at once the run has ended.
    if (!FInRun)
        FWatcher.WindowHidden();
}

void TWindowPolicy::WindowMinimised()
{
    // Minimised by the user: no longer a window that only waits for a tray.
    FShownForMissingTray = false;
    WindowHidden();
}

void TWindowPolicy::TrayChanged(bool available)
{
    if (available == FTrayAvailable)
        return;
    FTrayAvailable = available;
    const TWindowShow show = FFrontEnd.WindowShow();
    if (available) {
        // What waited minimised for want of a tray goes into it, and so does the window that was shown at
        // start only because there was no tray.
        if (show == TWindowShow::Minimised || (FShownForMissingTray && show == TWindowShow::Shown))
            FFrontEnd.HideWindow();
    } else if (show == TWindowShow::Hidden) {
        // The tray went away with the icon: the minimised window is now the program's only trace.
        FFrontEnd.MinimizeWindow();
    }
    FShownForMissingTray = false;
}

void TWindowPolicy::OfferVolume(const std::string& root)
{
    if (FInRun) {
        FWaitingVolumes.push_back(root);
        return;
    }
    FWatcher.OfferVolume(root);
    ShowForm(true);
}

void TWindowPolicy::EndRequested()
{
    if (FEnding)
        return;
    FEnding = true;
    // During a run the run stops after the photos in hand, and the program ends when it has returned.
    if (FInRun) {
        FEndAskedAt = std::chrono::steady_clock::now();
        FWatcher.StopRun();
    } else {
        FFrontEnd.Quit();
    }
}

void TWindowPolicy::Poll()
{
    // A device that does not answer holds the photo in hand; the user's end does not wait for it.
    if (FEnding && FInRun && std::chrono::steady_clock::now() - FEndAskedAt >= kStopPatience) {
        FWatcher.AbandonRun();
        FFrontEnd.Exit();
    }
}

void TWindowPolicy::ShowPhotos()
{
    if (const std::string folder = FWatcher.PhotosFolder(); !folder.empty() && !FFrontEnd.OpenFolder(folder))
        throw Exception(kTextCannotOpen + folder);
}

void TWindowPolicy::ShowLog()
{
    if (const std::string log = FWatcher.LogToShow(); !log.empty() && !FFrontEnd.OpenFile(log))
        throw Exception(kTextCannotOpen + log);
}

void TWindowPolicy::MessageClicked()
{
    if (FWatcher.State().MessageShowsPhotos)
        ShowPhotos();
}

void TWindowPolicy::StatusClicked()
{
    if (FWatcher.State().StatusShowsLog)
        ShowLog();
}

void TWindowPolicy::ShowForm(bool activate)
{
    FShownForMissingTray = false;
    FFrontEnd.ShowWindow(activate);
    if (activate)
        FActivatedOnce = true;
}

void TWindowPolicy::HideForm()
{
    if (FTrayAvailable)
        FFrontEnd.HideWindow();
    else
        FFrontEnd.MinimizeWindow();
}
