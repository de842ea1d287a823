#pragma once

#include "app/core/PhotoRecord.h"
#include "app/core/WindowTexts.h"

#include <functional>
#include <string>

/// Everything the main window shows, as the core decides it. A front end maps it onto its controls whole,
/// whenever the core renders it; texts are UTF-8 and come from WindowTexts.
struct TWindowState
{
    std::string Caption = kTextWaitForCamera;
    std::string TrayHint = kTextWaitForCameraDesign;
    /// The message over the progress bar, in big letters.
    std::string Message = kTextNoDevice;
    /// The two panels of the status bar.
    std::string Panel1;
    std::string Panel2;
    int ProgressMax = 100;
    int ProgressPosition = 0;
    /// "Fotos kopieren" can be pressed.
    bool TransferEnabled = false;
    /// The caption of the check box that switches turning on and off, and whether it takes input.
    std::string TurnCaption = kTextTurnIfPossible;
    bool TurnEnabled = true;
    /// The tray menu's "Beenden" can be chosen.
    bool QuitEnabled = true;
    /// The one-second tick runs.
    bool Ticking = true;
    /// A transfer run goes on: the window's controls take no input until it ends, while the window is
    /// painted and its texts change as the photos arrive.
    bool Busy = false;
    /// The tray menu's "Fotos anzeigen" and "Protokoll anzeigen" can be chosen: the last run put photos
    /// somewhere, or has reasons in the log.
    bool PhotosToShow = false;
    bool LogToShow = false;
    /// At the end of a run, a click on the message opens the photos' folder and one on the status bar the
    /// log, as links do.
    bool MessageShowsPhotos = false;
    bool StatusShowsLog = false;

    bool operator==(const TWindowState&) const = default;
};

/// How the main window is on the desktop now.
enum class TWindowShow
{
    Hidden,
    Minimised,
    Shown
};

/// What the core asks of a front end: show its window state, and the commands that only a window can carry
/// out. The Qt window implements it on Linux, the Win32 window on Windows; tests record it.
class TFrontEnd
{
public:
    virtual ~TFrontEnd() = default;

    virtual void Render(const TWindowState& state) = 0;
    /// Makes the window visible (also out of minimised) and brings it to the front; activate: it also
    /// takes the keyboard.
    virtual void ShowWindow(bool activate) = 0;
    /// Hides the window into the tray.
    virtual void HideWindow() = 0;
    /// Minimises the window into the desktop's task list.
    virtual void MinimizeWindow() = 0;
    virtual TWindowShow WindowShow() const = 0;
    /// Runs task on the window's thread, after what is queued there already. Called from any thread: a
    /// transfer run reports its progress this way. An exception the task throws is shown as a handler's.
    virtual void Post(std::function<void()> task) = 0;
    /// Opens a folder in the desktop's file manager, or a file in the program the desktop chooses for it;
    /// false when the desktop could not.
    virtual bool OpenFolder(const std::string& path) = 0;
    virtual bool OpenFile(const std::string& path) = 0;
    /// Ends the program's event loop.
    virtual void Quit() = 0;
    /// Ends the program at once, for the end asked for while a device holds the run: the window and the
    /// tray icon go, and work that still waits for the device is cut off.
    virtual void Exit() = 0;
};
