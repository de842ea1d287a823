#pragma once

#include "base/SysUtils.h"
#include "tray/Component.h"
#include "tray/ImageList.h"
#include "tray/Menus.h"
#include "tray/TrayHost.h"
#include "tray/TrayShell.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

/// Raised when the icon cannot be added to or deleted from the tray.
class EabfTrayIcon : public Exception
{
public:
    using Exception::Exception;
};

/// A window message as the tray icon's hidden window receives it.
struct TMessage
{
    TWindowMessage Msg = TWindowMessage::Null;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

/// The hidden window of a component: the shell's hidden window, whose messages (the tray's callbacks, the
/// timer) it takes while it exists. An exception raised while a message is handled goes to the
/// application's exception handler; the window keeps working.
class TabfHiddenWindow
{
public:
    using TWndProc = std::function<void(TMessage&)>;

    TabfHiddenWindow(TWndProc wndProc, TTrayShell& shell, const TTrayApplication& application);
    TabfHiddenWindow(const TabfHiddenWindow&) = delete;
    TabfHiddenWindow& operator=(const TabfHiddenWindow&) = delete;
    ~TabfHiddenWindow();

    /// Handles one message at once and returns its result.
    std::intptr_t Perform(TWindowMessage msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    /// Starts (or restarts) timer 1; false when the system has no timer left.
    bool SetTimer(std::uint32_t interval);
    void KillTimer();
    bool TimerRunning() const { return FTimerRunning; }

private:
    TWndProc FWndProc;
    TTrayShell& FShell;
    const TTrayApplication& FApplication;
    bool FTimerRunning = false;
};

using TMouseEvent =
    std::function<void(TComponent* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TComponent* Sender, TShiftState Shift, int X, int Y)>;

/// Base of the component set: a non-visual component whose owner is a window, or no window (null).
class TabfComponent : public TComponent
{
public:
    explicit TabfComponent(TTrayWindow* owner)
        : FOwner(owner)
    {
    }

    /// The owner when it is a window, else null. The owner outlives the component.
    TTrayWindow* Owner() const { return FOwner; }
    std::string About() const { return {}; }
    void SetAbout(const std::string&) {}

private:
    TTrayWindow* FOwner;
};

/// A component with its own hidden window and one timer on it.
class TabfCustomTimer : public TabfComponent
{
public:
    TabfCustomTimer(TTrayWindow* owner, TTrayShell& shell, const TTrayApplication& application);
    ~TabfCustomTimer() override;

    TabfHiddenWindow* Handle() const { return FWindow.get(); }

protected:
    std::uint32_t Interval() const { return FInterval; }
    void SetInterval(std::uint32_t value);
    bool TimerEnabled() const { return FTimerEnabled; }
    void SetTimerEnabled(bool value);
    void SetOnTimer(TNotifyEvent value);
    /// Starts timer 1 when interval, enabled flag and handler allow it; throws EOutOfResources.
    void UpdateTimer();
    /// The hidden window's message handler.
    virtual void WndProc(TMessage& message);
    virtual void Timer();

private:
    std::uint32_t FInterval = 1000;
    bool FTimerEnabled = true;
    TNotifyEvent FOnTimer;
    std::unique_ptr<TabfHiddenWindow> FWindow;
};

/// Balloon icon of ShowBalloon, sent as the shell's NIIF_NONE .. NIIF_ERROR.
enum class TabfTrayIconInfoType
{
    tiiNone = 0,
    tiiInfo = 1,
    tiiWarning = 2,
    tiiError = 3
};

/// The program's icon in the notification area: hint, click, double-click and popup menu, and the hiding of
/// the main window into the tray when it is minimised or at start. All requests go through the shell seam;
/// texts are UTF-8. Name() names the component in its error messages.
class TabfTrayIcon : public TabfCustomTimer
{
public:
    TabfTrayIcon(TTrayWindow* owner, TTrayShell& shell, TTrayApplication& application);
    ~TabfTrayIcon() override;

    /// Runs once all properties are set, as after reading a form: start hidden, then put the icon in.
    void Loaded();
    /// The front end calls this when its application (the main window) has just been minimised: with
    /// MinimizeToTray the application goes to the tray (GoToTray). Exceptions go to the application.
    void ApplicationMinimized();

    bool CycleIcons() const { return TimerEnabled(); }
    void SetCycleIcons(bool value) { SetTimerEnabled(value); }
    std::uint32_t CycleInterval() const { return Interval(); }
    void SetCycleInterval(std::uint32_t value) { SetInterval(value); }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value) { FEnabled = value; }
    const std::string& Hint() const { return FHint; }
    /// Keeps the first 63 characters; an unchanged text sends nothing.
    void SetHint(const std::string& value);
    TIconHandle Icon() const { return FIcon; }
    void SetIcon(TIconHandle value);
    /// Takes the icon as stored with a form, without telling the shell.
    void LoadFormIcon(TIconHandle value) { FIcon = value; }
    TImageList* ImageList() const { return FImageList; }
    void SetImageList(TImageList* value);
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int value);
    int IconID() const { return FIconID; }
    void SetIconID(int value);
    bool MinimizeToTray() const { return FMinimizeToTray; }
    void SetMinimizeToTray(bool value) { FMinimizeToTray = value; }
    bool MinimizeOnStart() const { return FMinimizeOnStart; }
    void SetMinimizeOnStart(bool value) { FMinimizeOnStart = value; }
    TPopupMenu* PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(TPopupMenu* value);
    bool PopupByLeft() const { return FPopupByLeft; }
    void SetPopupByLeft(bool value) { FPopupByLeft = value; }
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    const std::string& InfoText() const { return FInfoText; }
    void SetInfoText(const std::string& value) { FInfoText = value; }
    const std::string& InfoTitle() const { return FInfoTitle; }
    void SetInfoTitle(const std::string& value) { FInfoTitle = value; }
    int InfoTimeout() const { return FInfoTimeout; }
    void SetInfoTimeout(int value) { FInfoTimeout = value; }
    TabfTrayIconInfoType InfoType() const { return FInfoType; }
    void SetInfoType(TabfTrayIconInfoType value) { FInfoType = value; }

    /// Shows the balloon (InfoTitle, InfoText, InfoType, InfoTimeout); nothing without the extended record.
    void ShowBalloon();
    /// Minimises into the tray: hides the main window, puts the icon in, raises OnMinimize.
    void GoToTray();

    bool ClickPending() const { return FClickPending; }
    std::uint32_t IconFlags() const { return FIconFlags; }

    TNotifyEvent OnMinimize;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnPopupMenu;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnCycleIcons;
    TNotifyEvent OnBalloonShow;
    TNotifyEvent OnBalloonTimeout;
    TNotifyEvent OnBalloonClick;

protected:
    void WndProc(TMessage& message) override { TrayWndProc(message); }
    void Timer() override;
    void Notification(TComponent* component) override;

private:
    void TrayWndProc(TMessage& message);
    void FillIconData();
    void InsertToTray();
    void DeleteFromTray();
    void UpdateTray();
    void ShowIcon();
    void HideIcon();
    void PopupAtCursor();
    void ShowApplication();
    void HideApplication();
    void RefreshFromImageList();
    void MouseUp(TMouseButton button, TShiftState shift, TPoint position);
    void DoubleClick();

    TTrayShell& FShell;
    TTrayApplication& FApplication;
    TIconHandle FIcon = 0;
    int FImageIndex = 0;
    TImageList* FImageList = nullptr;
    TChangeLink FChangeLink;
    int FIconID = 0;
    std::uint32_t FIconFlags = nifMessage | nifTip;
    bool FEnabled = true;
    bool FShowHint = true;
    bool FVisible = false;
    std::string FHint;
    bool FMinimizeToTray = false;
    bool FMinimizeOnStart = false;
    TPopupMenu* FPopupMenu = nullptr;
    bool FPopupByLeft = false;
    std::string FInfoText;
    std::string FInfoTitle;
    int FInfoTimeout = 10000;
    TabfTrayIconInfoType FInfoType = TabfTrayIconInfoType::tiiNone;
    bool FClickPending = false;
    bool FDestroying = false;
    TNotifyIconData FIconData;
};
