#pragma once

#include "app/win/Win.h"
#include "tray/TrayShell.h"

#include <cstdint>
#include <vector>

/// The tray shell on Windows, each call the shell's own: Shell_NotifyIconW for the notify record (the
/// record's 488- and 88-byte layouts become the wide version 2 and version 1 records), a hidden window that
/// receives the tray's callbacks, its timers, WM_QUERYENDSESSION and the "TaskbarCreated" broadcast, and
/// TrackPopupMenu with TPM_RETURNCMD for the popup menu.
class TWinTrayShell : public TTrayShell
{
public:
    /// Creates the hidden window: a top-level popup with the tool-window style and no size, never shown, so
    /// that the broadcast of a new taskbar reaches it (a message-only window would miss it).
    explicit TWinTrayShell(HINSTANCE instance);
    ~TWinTrayShell() override;
    TWinTrayShell(const TWinTrayShell&) = delete;
    TWinTrayShell& operator=(const TWinTrayShell&) = delete;

    /// The window the icon serves (the main window): it comes forward and gets WM_NULL. May be set later.
    void SetWindow(HWND window) { FServed = window; }
    HWND Handle() const { return FWindow; }

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
    /// Whether the taskbar, which holds the notification area, is running.
    bool TrayAvailable() const override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Receive(UINT message, WPARAM wParam, LPARAM lParam);

    HWND FWindow = nullptr;
    HWND FServed = nullptr;
    UINT FTaskbarCreated = 0;
    TTrayCallback FCallback;
};
