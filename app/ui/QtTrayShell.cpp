#include "app/ui/QtTrayShell.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>

TQtTrayShell::TQtTrayShell(QWidget* window)
    : FWindow(window)
{
    connect(&FTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
    connect(&FTray, &QSystemTrayIcon::messageClicked, this, [this] {
        if (FAdded && FCallbackMessage != 0)
            Send(FCallbackMessage, FID, static_cast<std::intptr_t>(TTrayEvent::BalloonUserClick));
    });
}

TIconHandle TQtTrayShell::AddIcon(const QIcon& icon)
{
    FIcons.push_back(icon);
    return FIcons.size();
}

QIcon TQtTrayShell::Icon(TIconHandle handle) const
{
    return handle >= 1 && handle <= FIcons.size() ? FIcons[handle - 1] : QIcon();
}

bool TQtTrayShell::NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data)
{
    switch (message) {
    case TNotifyIconMessage::nimAdd:
        if (FAdded)
            return false;
        FAdded = true;
        FID = data.uID;
        FCallbackMessage = (data.uFlags & nifMessage) != 0 ? data.uCallbackMessage : 0;
        FTray.setIcon((data.uFlags & nifIcon) != 0 ? Icon(data.hIcon) : QIcon());
        FTray.setToolTip((data.uFlags & nifTip) != 0 ? QString::fromStdString(FieldText(data.szTip))
                                                     : QString());
        FTray.show();
        return true;
    case TNotifyIconMessage::nimModify:
        if (!FAdded || data.uID != FID)
            return false;
        Apply(data);
        return true;
    case TNotifyIconMessage::nimDelete:
        if (!FAdded || data.uID != FID)
            return false;
        FTray.hide();
        FAdded = false;
        return true;
    }
    return false;
}

void TQtTrayShell::Apply(const TNotifyIconData& data)
{
    if ((data.uFlags & nifMessage) != 0)
        FCallbackMessage = data.uCallbackMessage;
    if ((data.uFlags & nifIcon) != 0)
        FTray.setIcon(Icon(data.hIcon));
    if ((data.uFlags & nifTip) != 0)
        FTray.setToolTip(QString::fromStdString(FieldText(data.szTip)));
    if ((data.uFlags & nifInfo) != 0) {
        const auto icon = data.dwInfoFlags <= 3 ? static_cast<QSystemTrayIcon::MessageIcon>(data.dwInfoFlags)
                                                : QSystemTrayIcon::NoIcon;
        FTray.showMessage(QString::fromStdString(FieldText(data.szInfoTitle)),
                          QString::fromStdString(FieldText(data.szInfo)), icon,
                          static_cast<int>(std::min<std::uint32_t>(data.uTimeout, 600000)));
    }
}

void TQtTrayShell::ExportMenu(const std::vector<TTrayMenuItem>& items)
{
    const auto same = [](const TTrayMenuItem& a, const TTrayMenuItem& b) {
        return a.Command == b.Command && a.Caption == b.Caption && a.Enabled == b.Enabled &&
               a.Default == b.Default;
    };
    if (FExportRefused || (FMenu != nullptr &&
                           std::equal(items.begin(), items.end(), FExported.begin(), FExported.end(), same)))
        return;
    FExported = items;
    if (FMenu == nullptr) {
        FMenu = std::make_unique<QMenu>();
        connect(FMenu.get(), &QMenu::triggered, this, [this](QAction* action) {
            if (OnMenuCommand)
                OnMenuCommand(action->data().toUInt());
        });
    }
    // Actions of lines that stay are changed in place: a host that shows the menu now sees them change.
    QList<QAction*> actions = FMenu->actions();
    for (qsizetype i = static_cast<qsizetype>(items.size()); i < actions.size(); ++i)
        delete actions[i];
    FMenu->setDefaultAction(nullptr);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const TTrayMenuItem& item = items[i];
        QAction* action = i < static_cast<std::size_t>(actions.size()) ? actions[static_cast<qsizetype>(i)]
                                                                       : FMenu->addAction(QString());
        action->setText(QString::fromStdString(item.Caption));
        action->setEnabled(item.Enabled);
        action->setData(item.Command);
        if (item.Default)
            FMenu->setDefaultAction(action);
    }
    if (FTray.contextMenu() != nullptr)
        return;
    FTray.setContextMenu(FMenu.get());
    // Qt gives the menu a platform menu only for the D-Bus tray, which exports it. The XEmbed tray (and no
    // tray at all) has none; there Qt would pop the menu up by itself next to the component's popup.
    if (FMenu->platformMenu() == nullptr) {
        FTray.setContextMenu(nullptr);
        FExportRefused = true;
    }
}

TPoint TQtTrayShell::CursorPos() const
{
    const QPoint position = QCursor::pos();
    return {position.x(), position.y()};
}

TShiftState TQtTrayShell::KeyState() const
{
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    TShiftState state = 0;
    if (keys & Qt::ShiftModifier)
        state |= ssShift;
    if (keys & Qt::ControlModifier)
        state |= ssCtrl;
    if (keys & Qt::AltModifier)
        state |= ssAlt;
    return state;
}

void TQtTrayShell::SetForegroundWindow()
{
    // A hidden window is left alone: activating it would only take effect, unasked, when it is next shown.
    if (FWindow != nullptr && FWindow->isVisible()) {
        FWindow->raise();
        FWindow->activateWindow();
    }
}

void TQtTrayShell::PostNullMessage()
{
    // Qt takes the posted event over and deletes it once it has been delivered.
    if (FWindow != nullptr)
        QCoreApplication::postEvent(FWindow, std::make_unique<QEvent>(QEvent::None).release());
}

void TQtTrayShell::ProcessMessages()
{
    QCoreApplication::processEvents();
}

std::uint32_t TQtTrayShell::TrackPopupMenu(const std::vector<TTrayMenuItem>& items, TPoint position)
{
    auto menu = std::make_unique<QMenu>(FWindow.data());
    for (const TTrayMenuItem& item : items) {
        QAction* action = menu->addAction(QString::fromStdString(item.Caption));
        action->setEnabled(item.Enabled);
        action->setData(item.Command);
        if (item.Default)
            menu->setDefaultAction(action);
    }
    const QPointer<QMenu> alive = menu.get();
    const QAction* chosen = menu->exec(QPoint(position.X, position.Y));
    if (alive == nullptr) {
        // The window went while the menu was open and took its child menu along.
        static_cast<void>(menu.release());
        return 0;
    }
    return chosen != nullptr ? chosen->data().toUInt() : 0;
}

bool TQtTrayShell::SetTimer(std::uint32_t id, std::uint32_t interval)
{
    KillTimer(id);
    const int timer = startTimer(static_cast<int>(std::min<std::uint32_t>(interval, INT_MAX)));
    if (timer == 0)
        return false;
    FTimers[id] = timer;
    return true;
}

void TQtTrayShell::KillTimer(std::uint32_t id)
{
    if (const auto it = FTimers.find(id); it != FTimers.end()) {
        killTimer(it->second);
        FTimers.erase(it);
    }
}

void TQtTrayShell::timerEvent(QTimerEvent* event)
{
    for (const auto& [id, timer] : FTimers) {
        if (timer == event->timerId()) {
            Send(static_cast<std::uint32_t>(TWindowMessage::Timer), id, 0);
            return;
        }
    }
}

void TQtTrayShell::Activated(QSystemTrayIcon::ActivationReason reason)
{
    // Asked again for each message: the receiver may take the icon out of the tray between two.
    const auto send = [this](TTrayEvent event) {
        if (FAdded && FCallbackMessage != 0)
            Send(FCallbackMessage, FID, static_cast<std::intptr_t>(event));
    };
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        send(TTrayEvent::LButtonDown);
        send(TTrayEvent::LButtonUp);
        break;
    case QSystemTrayIcon::DoubleClick:
        send(TTrayEvent::LButtonDblClk);
        break;
    case QSystemTrayIcon::Context:
        send(TTrayEvent::RButtonDown);
        send(TTrayEvent::RButtonUp);
        break;
    case QSystemTrayIcon::MiddleClick:
        send(TTrayEvent::MButtonDown);
        send(TTrayEvent::MButtonUp);
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void TQtTrayShell::Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!FCallback)
        return;
    // Called through a copy: the receiver may replace or clear the registration while it runs.
    const TTrayCallback callback = FCallback;
    callback(message, wParam, lParam);
}
