#include "tray/QtTrayShell.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include <algorithm>
#include <memory>

TQtTrayShell::TQtTrayShell()
{
    connect(&FTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { Activated(reason); });
    connect(&FTray, &QSystemTrayIcon::messageClicked, this, [this] { Send(TTrayEvent::BalloonUserClick); });
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
        FTray.setIcon((data.uFlags & nifIcon) != 0 ? data.hIcon : QIcon());
        FTray.setToolTip((data.uFlags & nifTip) != 0 ? FieldText(data.szTip) : QString());
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
        FTray.setIcon(data.hIcon);
    if ((data.uFlags & nifTip) != 0)
        FTray.setToolTip(FieldText(data.szTip));
    if ((data.uFlags & nifInfo) != 0) {
        const auto icon = data.dwInfoFlags <= 3 ? static_cast<QSystemTrayIcon::MessageIcon>(data.dwInfoFlags)
                                                : QSystemTrayIcon::NoIcon;
        FTray.showMessage(FieldText(data.szInfoTitle), FieldText(data.szInfo), icon,
                          static_cast<int>(std::min<std::uint32_t>(data.uTimeout, 600000)));
    }
}

QPoint TQtTrayShell::CursorPos() const
{
    return QCursor::pos();
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

void TQtTrayShell::SetForegroundWindow(QWidget* window)
{
    // A hidden window is left alone: activating it would only take effect, unasked, when it is next shown.
    if (window != nullptr && window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
}

void TQtTrayShell::PostNullMessage(QObject* window)
{
    // Qt takes the posted event over and deletes it once it has been delivered.
    QCoreApplication::postEvent(window, std::make_unique<QEvent>(QEvent::None).release());
}

void TQtTrayShell::ProcessMessages()
{
    QCoreApplication::processEvents();
}

void TQtTrayShell::Popup(QMenu& menu, QPoint position)
{
    menu.exec(position);
}

void TQtTrayShell::Activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        Send(TTrayEvent::LButtonDown);
        Send(TTrayEvent::LButtonUp);
        break;
    case QSystemTrayIcon::DoubleClick:
        Send(TTrayEvent::LButtonDblClk);
        break;
    case QSystemTrayIcon::Context:
        Send(TTrayEvent::RButtonDown);
        Send(TTrayEvent::RButtonUp);
        break;
    case QSystemTrayIcon::MiddleClick:
        Send(TTrayEvent::MButtonDown);
        Send(TTrayEvent::MButtonUp);
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

void TQtTrayShell::Send(TTrayEvent event)
{
    if (!FAdded || !FCallback || FCallbackMessage == 0)
        return;
    // Called through a copy: the receiver may replace or clear the registration while it runs.
    const TTrayCallback callback = FCallback;
    callback(FCallbackMessage, FID, static_cast<std::intptr_t>(event));
}
