#include "tray/abfComponents.h"

#include <utility>

namespace {

constexpr std::size_t kMaxHint = 63;
constexpr std::size_t kMaxTipExtended = 127;
constexpr std::size_t kMaxTipShort = 63;
constexpr std::size_t kMaxInfoText = 255;
constexpr std::size_t kMaxInfoTitle = 63;
constexpr std::uint32_t kTimerId = 1;

/// Runs a step whose exceptions must not leave through the shell: they go to the application's handler.
template <class F> void RunGuarded(const TTrayApplication& application, F&& step)
{
    try {
        step();
    } catch (const std::exception& e) {
        application.HandleException(e);
    }
}

} // namespace

TabfHiddenWindow::TabfHiddenWindow(TWndProc wndProc, TTrayShell& shell, const TTrayApplication& application)
    : FWndProc(std::move(wndProc))
    , FShell(shell)
    , FApplication(application)
{
    FShell.SetCallback([this](std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
        return Perform(static_cast<TWindowMessage>(msg), wParam, lParam);
    });
}

TabfHiddenWindow::~TabfHiddenWindow()
{
    KillTimer();
    FShell.SetCallback({});
}

std::intptr_t TabfHiddenWindow::Perform(TWindowMessage msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    TMessage message{msg, wParam, lParam, 0};
    RunGuarded(FApplication, [&] { FWndProc(message); });
    return message.Result;
}

bool TabfHiddenWindow::SetTimer(std::uint32_t interval)
{
    FTimerRunning = FShell.SetTimer(kTimerId, interval);
    return FTimerRunning;
}

void TabfHiddenWindow::KillTimer()
{
    if (FTimerRunning)
        FShell.KillTimer(kTimerId);
    FTimerRunning = false;
}

TabfCustomTimer::TabfCustomTimer(TTrayWindow* owner, TTrayShell& shell, const TTrayApplication& application)
    : TabfComponent(owner)
    , FWindow(std::make_unique<TabfHiddenWindow>([this](TMessage& message) { WndProc(message); }, shell,
                                                 application))
{
}

TabfCustomTimer::~TabfCustomTimer()
{
    FTimerEnabled = false;
    FWindow->KillTimer();
}

void TabfCustomTimer::SetInterval(std::uint32_t value)
{
    FInterval = value;
    UpdateTimer();
}

void TabfCustomTimer::SetTimerEnabled(bool value)
{
    FTimerEnabled = value;
    UpdateTimer();
}

void TabfCustomTimer::SetOnTimer(TNotifyEvent value)
{
    FOnTimer = std::move(value);
    UpdateTimer();
}

void TabfCustomTimer::UpdateTimer()
{
    FWindow->KillTimer();
    if (FInterval != 0 && FTimerEnabled && FOnTimer && !FWindow->SetTimer(FInterval))
        throw EOutOfResources("Nicht genügend Timer verfügbar");
}

void TabfCustomTimer::WndProc(TMessage& message)
{
    if (message.Msg == TWindowMessage::Timer)
        Timer();
    else
        message.Result = 0;
}

void TabfCustomTimer::Timer()
{
    if (FOnTimer)
        FOnTimer(this);
}

TabfTrayIcon::TabfTrayIcon(TTrayWindow* owner, TTrayShell& shell, TTrayApplication& application)
    : TabfCustomTimer(owner, shell, application)
    , FShell(shell)
    , FApplication(application)
{
    FChangeLink.OnChange = [this] { RefreshFromImageList(); };
    // An empty handler lets timer 1 run once cycling is switched on; until then nothing runs.
    SetOnTimer([](TComponent*) {});
    SetCycleIcons(false);
    SetCycleInterval(200);
}

TabfTrayIcon::~TabfTrayIcon()
{
    // The owner is going away: the icon leaves the tray, but no window is shown any more.
    FDestroying = true;
    RunGuarded(FApplication, [this] { SetVisible(false); });
}

void TabfTrayIcon::Loaded()
{
    if (FMinimizeOnStart) {
        FApplication.SetShowMainForm(false);
        GoToTray();
    }
    // An icon already added by the Visible setter is refused a second time; that is ignored.
    if (FVisible)
        ShowIcon();
}

void TabfTrayIcon::ApplicationMinimized()
{
    // Only a window can be minimised: a component without a window owner has no application to hide.
    if (Owner() != nullptr && FMinimizeToTray && !FDestroying)
        RunGuarded(FApplication, [this] { GoToTray(); });
}

void TabfTrayIcon::SetHint(const std::string& value)
{
    if (value == FHint)
        return;
    FHint = CutToUtf16Length(value, kMaxHint);
    UpdateTray();
}

void TabfTrayIcon::SetIcon(TIconHandle value)
{
    FIcon = value;
    UpdateTray();
}

void TabfTrayIcon::SetImageList(TImageList* value)
{
    if (FImageList != nullptr)
        FImageList->UnregisterChanges(FChangeLink);
    FImageList = value;
    if (value != nullptr) {
        value->RegisterChanges(FChangeLink);
        value->FreeNotification(this);
    }
    RefreshFromImageList();
}

void TabfTrayIcon::SetImageIndex(int value)
{
    FImageIndex = value;
    RefreshFromImageList();
}

void TabfTrayIcon::SetIconID(int value)
{
    if (value == FIconID)
        return;
    const bool wasVisible = FVisible;
    SetVisible(false);
    FIconID = value;
    SetVisible(wasVisible);
}

void TabfTrayIcon::SetPopupMenu(TPopupMenu* value)
{
    FPopupMenu = value;
    if (value != nullptr)
        value->FreeNotification(this);
}

void TabfTrayIcon::SetShowHint(bool value)
{
    if (value == FShowHint)
        return;
    FShowHint = value;
    UpdateTray();
}

void TabfTrayIcon::SetVisible(bool value)
{
    if (value == FVisible)
        return;
    FVisible = value;
    if (value)
        ShowIcon();
    else
        HideIcon();
}

void TabfTrayIcon::ShowBalloon()
{
    if (!FShell.ExtendedNotifyData())
        return;
    FillIconData();
    FIconData.uFlags = nifInfo;
    FIconData.dwInfoFlags = static_cast<std::uint32_t>(FInfoType);
    FIconData.uTimeout = static_cast<std::uint32_t>(FInfoTimeout);
    SetFieldText(FIconData.szInfo, FInfoText, kMaxInfoText);
    SetFieldText(FIconData.szInfoTitle, FInfoTitle, kMaxInfoTitle);
    FShell.NotifyIcon(TNotifyIconMessage::nimModify, FIconData);
}

void TabfTrayIcon::GoToTray()
{
    HideApplication();
    SetVisible(true);
    if (OnMinimize)
        OnMinimize(this);
}

void TabfTrayIcon::Timer()
{
    if (FImageList != nullptr)
        SetImageIndex(FImageIndex < FImageList->Count() - 1 ? FImageIndex + 1 : 0);
    if (OnCycleIcons)
        OnCycleIcons(this);
}

void TabfTrayIcon::Notification(TComponent* component)
{
    // The image list's own end has already taken the change link off it.
    if (component == FImageList)
        FImageList = nullptr;
    if (component == FPopupMenu)
        FPopupMenu = nullptr;
}

void TabfTrayIcon::TrayWndProc(TMessage& message)
{
    if (message.Msg == TWindowMessage::TrayCallback) {
        if (!FEnabled)
            return;
        const TPoint cursor = FShell.CursorPos();
        const TShiftState keys = FShell.KeyState();
        switch (static_cast<TTrayEvent>(static_cast<std::uint32_t>(message.LParam))) {
        case TTrayEvent::MouseMove: {
            const TPoint now = FShell.CursorPos();
            if (OnMouseMove)
                OnMouseMove(this, FShell.KeyState(), now.X, now.Y);
            break;
        }
        case TTrayEvent::LButtonDown:
            if (OnMouseDown)
                OnMouseDown(this, TMouseButton::mbLeft, keys | ssLeft, cursor.X, cursor.Y);
            FClickPending = true;
            break;
        case TTrayEvent::LButtonUp:
            MouseUp(TMouseButton::mbLeft, keys | ssLeft, cursor);
            if (FClickPending && OnClick)
                OnClick(this);
            if (FPopupByLeft)
                PopupAtCursor();
            FClickPending = false;
            break;
        case TTrayEvent::LButtonDblClk:
            DoubleClick();
            break;
        case TTrayEvent::RButtonDown:
            if (OnMouseDown)
                OnMouseDown(this, TMouseButton::mbRight, keys | ssRight, cursor.X, cursor.Y);
            break;
        case TTrayEvent::RButtonUp:
            MouseUp(TMouseButton::mbRight, keys | ssRight, cursor);
            PopupAtCursor();
            break;
        case TTrayEvent::MButtonDown:
            if (OnMouseDown)
                OnMouseDown(this, TMouseButton::mbMiddle, keys | ssMiddle, cursor.X, cursor.Y);
            break;
        case TTrayEvent::MButtonUp:
            MouseUp(TMouseButton::mbMiddle, keys | ssMiddle, cursor);
            break;
        case TTrayEvent::BalloonShow:
            if (OnBalloonShow)
                OnBalloonShow(this);
            break;
        case TTrayEvent::BalloonTimeout:
            if (OnBalloonTimeout)
                OnBalloonTimeout(this);
            break;
        case TTrayEvent::BalloonUserClick:
            if (OnBalloonClick)
                OnBalloonClick(this);
            break;
        default:
            TabfCustomTimer::WndProc(message);
            break;
        }
        return;
    }
    if (message.Msg == TWindowMessage::QueryEndSession) {
        message.Result = 1;
        return;
    }
    if (message.Msg == TWindowMessage::TaskbarCreated && FVisible) {
        HideIcon();
        ShowIcon();
    }
    TabfCustomTimer::WndProc(message);
}

void TabfTrayIcon::FillIconData()
{
    const bool extended = FShell.ExtendedNotifyData();
    FIconData.cbSize = extended ? kExtendedNotifyDataSize : kShortNotifyDataSize;
    FIconData.uID = static_cast<std::uint32_t>(FIconID);
    FIconData.uFlags = FIconFlags;
    FIconData.uCallbackMessage = static_cast<std::uint32_t>(TWindowMessage::TrayCallback);
    FIconData.hIcon = FIcon;
    FIconData.szTip.fill(0);
    if (FShowHint)
        SetFieldText(FIconData.szTip, FHint, extended ? kMaxTipExtended : kMaxTipShort);
}

void TabfTrayIcon::InsertToTray()
{
    try {
        FillIconData();
        FShell.NotifyIcon(TNotifyIconMessage::nimAdd, FIconData);
    } catch (const std::exception&) {
        throw EabfTrayIcon(FormatS("%s.InsertToTray failed", Name()));
    }
}

void TabfTrayIcon::DeleteFromTray()
{
    try {
        FillIconData();
        FShell.NotifyIcon(TNotifyIconMessage::nimDelete, FIconData);
    } catch (const std::exception&) {
        throw EabfTrayIcon(FormatS("%s.DeleteFromTray failed", Name()));
    }
}

void TabfTrayIcon::UpdateTray()
{
    FillIconData();
    FShell.NotifyIcon(TNotifyIconMessage::nimModify, FIconData);
}

void TabfTrayIcon::ShowIcon()
{
    FIconFlags |= nifIcon;
    InsertToTray();
    FVisible = true;
    if (OnShow)
        OnShow(this);
}

void TabfTrayIcon::HideIcon()
{
    FIconFlags &= ~static_cast<std::uint32_t>(nifIcon);
    DeleteFromTray();
    FVisible = false;
    if (OnHide)
        OnHide(this);
    if (FDestroying)
        return;
    if (FMinimizeToTray)
        ShowApplication();
    if (TTrayWindow* owner = Owner(); owner != nullptr && !owner->Visible())
        owner->ShowNormal();
}

void TabfTrayIcon::PopupAtCursor()
{
    if (FPopupMenu == nullptr || !FPopupMenu->AutoPopup())
        return;
    const TPoint cursor = FShell.CursorPos();
    FShell.ProcessMessages();
    if (Owner() != nullptr)
        FShell.SetForegroundWindow();
    // Pending messages may have destroyed the menu, which cleared PopupMenu.
    if (FPopupMenu == nullptr)
        return;
    FPopupMenu->SetPopupComponent(this);
    const std::uint32_t command = FShell.TrackPopupMenu(FPopupMenu->ShellItems(), cursor);
    // The menu may have gone while it was open; its item runs only if it is still there.
    if (FPopupMenu != nullptr)
        FPopupMenu->DispatchCommand(command);
    if (Owner() != nullptr)
        FShell.PostNullMessage();
    if (OnPopupMenu)
        OnPopupMenu(this);
}

void TabfTrayIcon::ShowApplication()
{
    if (TTrayWindow* mainWindow = FApplication.MainWindow())
        mainWindow->ShowNormal();
}

void TabfTrayIcon::HideApplication()
{
    if (TTrayWindow* mainWindow = FApplication.MainWindow())
        mainWindow->Hide();
}

void TabfTrayIcon::RefreshFromImageList()
{
    if (FImageList == nullptr)
        return;
    FIcon = FImageList->GetIcon(FImageIndex);
    UpdateTray();
}

void TabfTrayIcon::MouseUp(TMouseButton button, TShiftState shift, TPoint position)
{
    if (Owner() != nullptr)
        FShell.SetForegroundWindow();
    if (OnMouseUp)
        OnMouseUp(this, button, shift, position.X, position.Y);
}

void TabfTrayIcon::DoubleClick()
{
    if (FPopupMenu != nullptr && FPopupMenu->AutoPopup() && !FPopupByLeft) {
        for (int i = 0; i < FPopupMenu->Count(); ++i) {
            TMenuItem& item = FPopupMenu->Items(i);
            if (!item.Default())
                continue;
            item.Click();
            if (OnDblClick)
                OnDblClick(this);
            if (Owner() != nullptr)
                FShell.SetForegroundWindow();
            return;
        }
    }
    if (TTrayWindow* owner = Owner()) {
        if (FMinimizeToTray && owner->Visible())
            HideApplication();
        else
            ShowApplication();
    }
    if (OnDblClick)
        OnDblClick(this);
}
