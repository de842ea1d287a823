#pragma once

#include "base/SysUtils.h"
#include "tray/TrayShell.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

/// Raised when the icon cannot be added to or deleted from the tray.
class EabfTrayIcon : public Exception
{
public:
    using Exception::Exception;
};

/// The parts of the application object that the tray icon works with.
class TApplicationHost
{
public:
    /// Whether the program shows its main window when the event loop starts; the tray icon may clear it.
    bool ShowMainForm = true;
    /// The main window; absent while the main window is being built.
    QPointer<QWidget> MainForm;
    /// Shows an exception to the user; the program goes on. Unset: a message box.
    std::function<void(const std::exception&)> OnException;

    void HandleException(const std::exception& e) const;
};

/// The program's one application object.
TApplicationHost& Application();

/// A popup menu with the flags the tray icon looks at. Its default item (QMenu::defaultAction) is the one
/// a double-click on the icon runs.
class TPopupMenu : public QMenu
{
public:
    explicit TPopupMenu(QWidget* parent = nullptr)
        : QMenu(parent)
    {
    }

    bool AutoPopup() const { return FAutoPopup; }
    void SetAutoPopup(bool value) { FAutoPopup = value; }
    /// The component that popped the menu up last.
    QObject* PopupComponent() const { return FPopupComponent; }
    void SetPopupComponent(QObject* value) { FPopupComponent = value; }

private:
    bool FAutoPopup = true;
    QPointer<QObject> FPopupComponent;
};

/// An ordered list of icons that tells its users when it changes.
class TImageList : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    int Count() const { return static_cast<int>(FIcons.size()); }
    void Add(const QIcon& icon);
    void Clear();
    /// Copies icon number index into icon; an index outside the list gives an empty icon.
    void GetIcon(int index, QIcon& icon) const;

signals:
    void Change();

private:
    QList<QIcon> FIcons;
};

/// A window message as the tray icon's hidden window receives it.
struct TMessage
{
    TWindowMessage Msg = TWindowMessage::Null;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

/// The hidden window of a component: it receives the tray's callback messages and the timer. An exception
/// raised while a message is handled goes to the application's exception handler; the window keeps working.
class TabfHiddenWindow : public QObject
{
public:
    using TWndProc = std::function<void(TMessage&)>;

    TabfHiddenWindow(TWndProc wndProc, const TApplicationHost& application);
    ~TabfHiddenWindow() override;

    /// Handles one message at once and returns its result.
    std::intptr_t Perform(TWindowMessage msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    /// Starts (or restarts) timer 1; false when the system has no timer left.
    bool SetTimer(std::uint32_t interval);
    void KillTimer();
    bool TimerRunning() const { return FTimerId != 0; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    TWndProc FWndProc;
    const TApplicationHost& FApplication;
    int FTimerId = 0;
};

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent =
    std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;

/// Base of the component set: a non-visual component with an owner.
class TabfComponent : public QObject
{
public:
    explicit TabfComponent(QObject* owner)
        : FOwner(owner)
    {
    }

    QObject* Owner() const { return FOwner; }
    /// The owner when it is a window, else null.
    QWidget* OwnerWidget() const { return qobject_cast<QWidget*>(FOwner.data()); }
    QString About() const { return FAbout; }
    void SetAbout(const QString&) {}

private:
    QPointer<QObject> FOwner;
    QString FAbout;
};

/// A component with its own hidden window and one timer on it.
class TabfCustomTimer : public TabfComponent
{
public:
    TabfCustomTimer(QObject* owner, const TApplicationHost& application);
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
/// the main window into the tray when it is minimised or at start. All requests go through the shell seam.
class TabfTrayIcon : public TabfCustomTimer
{
public:
    TabfTrayIcon(QObject* owner, TTrayShell& shell, TApplicationHost& application = Application());
    ~TabfTrayIcon() override;

    /// Runs once all properties are set, as after reading a form: start hidden, then put the icon in.
    void Loaded();

    bool CycleIcons() const { return TimerEnabled(); }
    void SetCycleIcons(bool value) { SetTimerEnabled(value); }
    std::uint32_t CycleInterval() const { return Interval(); }
    void SetCycleInterval(std::uint32_t value) { SetInterval(value); }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value) { FEnabled = value; }
    QString Hint() const { return FHint; }
    /// Keeps the first 63 characters; an unchanged text sends nothing.
    void SetHint(const QString& value);
    QIcon Icon() const { return FIcon; }
    void SetIcon(const QIcon& value);
    /// Takes the icon as stored with a form, without telling the shell.
    void LoadFormIcon(const QIcon& value) { FIcon = value; }
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
    void SetPopupMenu(TPopupMenu* value) { FPopupMenu = value; }
    bool PopupByLeft() const { return FPopupByLeft; }
    void SetPopupByLeft(bool value) { FPopupByLeft = value; }
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    QString InfoText() const { return FInfoText; }
    void SetInfoText(const QString& value) { FInfoText = value; }
    QString InfoTitle() const { return FInfoTitle; }
    void SetInfoTitle(const QString& value) { FInfoTitle = value; }
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
    /// Watches the owner window for being minimised.
    bool eventFilter(QObject* watched, QEvent* event) override;

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
    void HookApplication();
    void UnhookApplication();
    void RefreshFromImageList();
    void MouseUp(TMouseButton button, TShiftState shift, QPoint position);
    void DoubleClick();

    TTrayShell& FShell;
    TApplicationHost& FApplication;
    QIcon FIcon;
    int FImageIndex = 0;
    QPointer<TImageList> FImageList;
    QMetaObject::Connection FChangeLink;
    int FIconID = 0;
    std::uint32_t FIconFlags = nifMessage | nifTip;
    bool FEnabled = true;
    bool FShowHint = true;
    bool FVisible = false;
    QString FHint;
    bool FMinimizeToTray = false;
    bool FMinimizeOnStart = false;
    QPointer<TPopupMenu> FPopupMenu;
    bool FPopupByLeft = false;
    QString FInfoText;
    QString FInfoTitle;
    int FInfoTimeout = 10000;
    TabfTrayIconInfoType FInfoType = TabfTrayIconInfoType::tiiNone;
    bool FClickPending = false;
    bool FHooked = false;
    bool FDestroying = false;
    TNotifyIconData FIconData;
};
