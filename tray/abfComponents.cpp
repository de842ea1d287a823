#include "tray/abfComponents.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QTimerEvent>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

constexpr int kMaxHint = 63;
constexpr std::size_t kMaxTipExtended = 127;
constexpr std::size_t kMaxTipShort = 63;
constexpr std::size_t kMaxInfoText = 255;
constexpr std::size_t kMaxInfoTitle = 63;

/// Runs a step whose exceptions must not leave through Qt: they go to the application's handler.
template <class F> void RunGuarded(const TApplicationHost& application, F&& step)
{
    try {
        step();
    } catch (const std::exception& e) {
        application.HandleException(e);
    }
}

/// The first count characters of text, never ending in half a surrogate pair.
QString CutText(const QString& text, int count)
{
    if (text.size() <= count)
        return text;
    qsizetype keep = count;
    if (keep > 0 && text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep);
}

/// Makes a window visible again, also one that was minimised before it went to the tray.
void ShowWindowNormal(QWidget& window)
{
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.setVisible(true);
}

} // namespace

void TApplicationHost::HandleException(const std::exception& e) const
{
    if (OnException) {
        OnException(e);
        return;
    }
    QMessageBox::critical(MainForm, QApplication::applicationDisplayName(), QString::fromUtf8(e.what()));
}

TApplicationHost& Application()
{
    static TApplicationHost application;
    return application;
}

void TImageList::Add(const QIcon& icon)
{
    FIcons.append(icon);
    emit Change();
}

void TImageList::Clear()
{
    FIcons.clear();
    emit Change();
}

void TImageList::GetIcon(int index, QIcon& icon) const
{
    icon = index >= 0 && index < FIcons.size() ? FIcons.at(index) : QIcon();
}

TabfHiddenWindow::TabfHiddenWindow(TWndProc wndProc, const TApplicationHost& application)
    : FWndProc(std::move(wndProc))
    , FApplication(application)
{
}

TabfHiddenWindow::~TabfHiddenWindow()
{
    KillTimer();
}

std::intptr_t TabfHiddenWindow::Perform(TWindowMessage msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    TMessage message{msg, wParam, lParam, 0};
    RunGuarded(FApplication, [&] { FWndProc(message); });
    return message.Result;
}

bool TabfHiddenWindow::SetTimer(std::uint32_t interval)
{
    KillTimer();
    FTimerId = startTimer(static_cast<int>(std::min<std::uint32_t>(interval, INT_MAX)));
    return FTimerId != 0;
}

void TabfHiddenWindow::KillTimer()
{
    if (FTimerId != 0)
        killTimer(FTimerId);
    FTimerId = 0;
}

void TabfHiddenWindow::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == FTimerId)
        Perform(TWindowMessage::Timer, 1, 0);
}

TabfCustomTimer::TabfCustomTimer(QObject* owner, const TApplicationHost& application)
    : TabfComponent(owner)
    , FWindow(
          std::make_unique<TabfHiddenWindow>([this](TMessage& message) { WndProc(message); }, application))
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

TabfTrayIcon::TabfTrayIcon(QObject* owner, TTrayShell& shell, TApplicationHost& application)
    : TabfCustomTimer(owner, application)
    , FShell(shell)
    , FApplication(application)
{
    // An empty handler lets timer 1 run once cycling is switched on; until then nothing runs.
    SetOnTimer([](QObject*) {});
    SetCycleIcons(false);
    SetCycleInterval(200);
    HookApplication();
    // The shell knows no window of ours: its callback messages come through this receiver.
    FShell.SetCallback([this](std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
        Handle()->Perform(static_cast<TWindowMessage>(msg), wParam, lParam);
    });
}

TabfTrayIcon::~TabfTrayIcon()
{
    // The owner is going away: the icon leaves the tray, but no window is shown any more.
    FDestroying = true;
    RunGuarded(FApplication, [this] { SetVisible(false); });
    UnhookApplication();
    QObject::disconnect(FChangeLink);
    FShell.SetCallback({});
}

void TabfTrayIcon::Loaded()
{
    if (FMinimizeOnStart) {
        FApplication.ShowMainForm = false;
        GoToTray();
    }
    // An icon already added by the Visible setter is refused a second time; that is ignored.
    if (FVisible)
        ShowIcon();
}

void TabfTrayIcon::SetHint(const QString& value)
{
    if (value == FHint)
        return;
    FHint = CutText(value, kMaxHint);
    UpdateTray();
}

void TabfTrayIcon::SetIcon(const QIcon& value)
{
    FIcon = value;
    UpdateTray();
}

void TabfTrayIcon::SetImageList(TImageList* value)
{
    QObject::disconnect(FChangeLink);
    FImageList = value;
    if (value != nullptr)
        FChangeLink = connect(value, &TImageList::Change, this, [this] { RefreshFromImageList(); });
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

bool TabfTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (FHooked && watched == Owner() && event->type() == QEvent::WindowStateChange && FMinimizeToTray) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const QWidget* window = OwnerWidget();
        if (window != nullptr && window->isMinimized() && !(change->oldState() & Qt::WindowMinimized))
            RunGuarded(FApplication, [this] { GoToTray(); });
    }
    return false;
}

void TabfTrayIcon::TrayWndProc(TMessage& message)
{
    if (message.Msg == TWindowMessage::TrayCallback) {
        if (!FEnabled)
            return;
        const QPoint cursor = FShell.CursorPos();
        const TShiftState keys = FShell.KeyState();
        switch (static_cast<TTrayEvent>(static_cast<std::uint32_t>(message.LParam))) {
        case TTrayEvent::MouseMove: {
            const QPoint now = FShell.CursorPos();
            if (OnMouseMove)
                OnMouseMove(this, FShell.KeyState(), now.x(), now.y());
            break;
        }
        case TTrayEvent::LButtonDown:
            if (OnMouseDown)
                OnMouseDown(this, TMouseButton::mbLeft, keys | ssLeft, cursor.x(), cursor.y());
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
                OnMouseDown(this, TMouseButton::mbRight, keys | ssRight, cursor.x(), cursor.y());
            break;
        case TTrayEvent::RButtonUp:
            MouseUp(TMouseButton::mbRight, keys | ssRight, cursor);
            PopupAtCursor();
            break;
        case TTrayEvent::MButtonDown:
            if (OnMouseDown)
                OnMouseDown(this, TMouseButton::mbMiddle, keys | ssMiddle, cursor.x(), cursor.y());
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
        throw EabfTrayIcon(FormatS("%s.InsertToTray failed", objectName().toStdString()));
    }
}

void TabfTrayIcon::DeleteFromTray()
{
    try {
        FillIconData();
        FShell.NotifyIcon(TNotifyIconMessage::nimDelete, FIconData);
    } catch (const std::exception&) {
        throw EabfTrayIcon(FormatS("%s.DeleteFromTray failed", objectName().toStdString()));
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
    if (QWidget* owner = OwnerWidget(); owner != nullptr && !owner->isVisible())
        ShowWindowNormal(*owner);
}

void TabfTrayIcon::PopupAtCursor()
{
    const QPointer<TPopupMenu> menu = FPopupMenu;
    if (menu == nullptr || !menu->AutoPopup())
        return;
    const QPoint cursor = FShell.CursorPos();
    FShell.ProcessMessages();
    if (QWidget* owner = OwnerWidget())
        FShell.SetForegroundWindow(owner);
    if (menu == nullptr)
        return;
    menu->SetPopupComponent(this);
    FShell.Popup(*menu, cursor);
    if (QWidget* owner = OwnerWidget())
        FShell.PostNullMessage(owner);
    if (OnPopupMenu)
        OnPopupMenu(this);
}

void TabfTrayIcon::ShowApplication()
{
    // Qt has no separate application window: the main window is all there is to show.
    if (FApplication.MainForm != nullptr)
        ShowWindowNormal(*FApplication.MainForm);
}

void TabfTrayIcon::HideApplication()
{
    if (FApplication.MainForm != nullptr)
        FApplication.MainForm->setVisible(false);
}

void TabfTrayIcon::HookApplication()
{
    if (QWidget* owner = OwnerWidget()) {
        owner->installEventFilter(this);
        FHooked = true;
    }
}

void TabfTrayIcon::UnhookApplication()
{
    if (!FHooked)
        return;
    if (QWidget* owner = OwnerWidget())
        owner->removeEventFilter(this);
    FHooked = false;
}

void TabfTrayIcon::RefreshFromImageList()
{
    if (FImageList == nullptr)
        return;
    FIcon = QIcon();
    FImageList->GetIcon(FImageIndex, FIcon);
    UpdateTray();
}

void TabfTrayIcon::MouseUp(TMouseButton button, TShiftState shift, QPoint position)
{
    if (QWidget* owner = OwnerWidget())
        FShell.SetForegroundWindow(owner);
    if (OnMouseUp)
        OnMouseUp(this, button, shift, position.x(), position.y());
}

void TabfTrayIcon::DoubleClick()
{
    if (FPopupMenu != nullptr && FPopupMenu->AutoPopup() && !FPopupByLeft) {
        const QAction* defaultItem = FPopupMenu->defaultAction();
        for (QAction* item : FPopupMenu->actions()) {
            if (item != defaultItem)
                continue;
            item->trigger();
            if (OnDblClick)
                OnDblClick(this);
            if (QWidget* owner = OwnerWidget())
                FShell.SetForegroundWindow(owner);
            return;
        }
    }
    if (QWidget* owner = OwnerWidget()) {
        if (FMinimizeToTray && owner->isVisible())
            HideApplication();
        else
            ShowApplication();
    }
    if (OnDblClick)
        OnDblClick(this);
}
