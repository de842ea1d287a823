#pragma once

#include "tray/TrayShell.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

/// The tray shell of the program: one QSystemTrayIcon, Qt timers for the hidden window's timer, a QMenu for
/// the popup, and the window it serves. Qt's activations are handed to the registered callback as the
/// callback messages of a real click: a left click as press and release, a double-click as the double-click
/// message, a right or middle click as press and release. Icons are registered with AddIcon; the record
/// names them by the handle it returns.
class TQtTrayShell : public QObject, public TTrayShell
{
public:
    /// window: the window that comes to the front and gets the empty message; it may be given later.
    explicit TQtTrayShell(QWidget* window = nullptr);

    void SetWindow(QWidget* window) { FWindow = window; }
    /// Registers an icon and returns its handle (never 0). Icons stay registered as long as the shell.
    TIconHandle AddIcon(const QIcon& icon);

    void SetCallback(TTrayCallback callback) override { FCallback = std::move(callback); }
    bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) override;
    bool ExtendedNotifyData() const override { return true; }
    TPoint CursorPos() const override;
    TShiftState KeyState() const override;
    void SetForegroundWindow() override;
    void PostNullMessage() override;
    void ProcessMessages() override;
    std::uint32_t TrackPopupMenu(const std::vector<TTrayMenuItem>& items, TPoint position) override;
    bool SetTimer(std::uint32_t id, std::uint32_t interval) override;
    void KillTimer(std::uint32_t id) override;
    bool TrayAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

    /// Whether an icon has been added and not deleted since.
    bool Added() const { return FAdded; }
    QSystemTrayIcon& TrayIcon() { return FTray; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void Activated(QSystemTrayIcon::ActivationReason reason);
    void Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    void Apply(const TNotifyIconData& data);
    QIcon Icon(TIconHandle handle) const;

    QSystemTrayIcon FTray;
    QPointer<QWidget> FWindow;
    bool FAdded = false;
    TTrayCallback FCallback;
    std::uint32_t FID = 0;
    std::uint32_t FCallbackMessage = 0;
    /// Handle n is FIcons[n - 1].
    std::vector<QIcon> FIcons;
    /// The hidden window's timer identifiers and the Qt timers behind them.
    std::map<std::uint32_t, int> FTimers;
};
