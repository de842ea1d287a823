#pragma once

#include "tray/TrayShell.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <cstdint>
#include <utility>

/// The tray shell of the program: one QSystemTrayIcon. Qt's activations are handed to the registered
/// callback as the callback messages of a real click: a left click as press and release, a double-click as
/// the double-click message, a right or middle click as press and release.
class TQtTrayShell : public QObject, public TTrayShell
{
public:
    TQtTrayShell();

    void SetCallback(TTrayCallback callback) override { FCallback = std::move(callback); }
    bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) override;
    bool ExtendedNotifyData() const override { return true; }
    QPoint CursorPos() const override;
    TShiftState KeyState() const override;
    void SetForegroundWindow(QWidget* window) override;
    void PostNullMessage(QObject* window) override;
    void ProcessMessages() override;
    void Popup(QMenu& menu, QPoint position) override;
    bool TrayAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

    /// Whether an icon has been added and not deleted since.
    bool Added() const { return FAdded; }
    QSystemTrayIcon& TrayIcon() { return FTray; }

private:
    void Activated(QSystemTrayIcon::ActivationReason reason);
    void Send(TTrayEvent event);
    void Apply(const TNotifyIconData& data);

    QSystemTrayIcon FTray;
    bool FAdded = false;
    TTrayCallback FCallback;
    std::uint32_t FID = 0;
    std::uint32_t FCallbackMessage = 0;
};
