#pragma once

#include "tray/TrayShell.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

/// The tray shell of the program: one QSystemTrayIcon, Qt timers for the hidden window's timer, a QMenu for
/// the popup, and the window it serves. Qt's activations are handed to the registered callback as the
/// callback messages of a real click: a left click as press and release, a double-click as the double-click
/// message, a right or middle click as press and release. Icons are registered with AddIcon; the record
/// names them by the handle it returns. Where the icon lives in a StatusNotifierItem host (the D-Bus tray of
/// KDE and of GNOME's AppIndicator), the menu is also exported to it, as a Wayland client cannot pop a menu
/// up at the cursor itself.
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

    /// Exports a menu of these lines with the icon, for hosts that show the menu of the item themselves
    /// (over com.canonical.dbusmenu); call again whenever a line changes. A line chosen there is reported
    /// to OnMenuCommand. Where the icon is embedded in an XEmbed tray, nothing is exported: Qt would pop
    /// the menu up itself on a right press, beside the component's own popup.
    void ExportMenu(const std::vector<TTrayMenuItem>& items);
    /// Called with the Command of the line chosen in the exported menu.
    std::function<void(std::uint32_t command)> OnMenuCommand;
    /// Whether the icon carries the exported menu.
    bool MenuExported() const { return FTray.contextMenu() != nullptr; }

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

    /// The exported menu; declared before the icon, which refers to it, so that it outlives the icon.
    std::unique_ptr<QMenu> FMenu;
    std::vector<TTrayMenuItem> FExported;
    /// Qt gave the menu no platform menu: the icon is not on the D-Bus tray, and never will be.
    bool FExportRefused = false;
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
