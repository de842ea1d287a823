#pragma once

#include "tray/TrayHost.h"
#include "tray/TrayShell.h"

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

/// A notification area that keeps one icon like the real shell does (a second add and a request for an
/// absent icon are refused) and records every request and window call in order.
class TFakeTrayShell : public TTrayShell
{
public:
    struct TRequest
    {
        TNotifyIconMessage Message;
        TNotifyIconData Data;
        bool Accepted;
    };

    std::vector<TRequest> Requests;
    std::vector<std::string> Log;
    bool Extended = true;
    bool InTray = false;
    /// Whether the desktop has a tray at all.
    bool Available = true;
    bool FailAdd = false;
    bool FailDelete = false;
    bool NoTimers = false;
    TPoint Cursor{300, 5};
    TShiftState Keys = 0;
    /// What the user does while the menu is open: the command chosen, 0 for none.
    std::function<std::uint32_t(const std::vector<TTrayMenuItem>&)> InMenu;
    /// The receiver registered by the tray icon.
    TTrayCallback Callback;
    /// Running timers: identifier and interval.
    std::map<std::uint32_t, std::uint32_t> Timers;

    void SetCallback(TTrayCallback callback) override { Callback = std::move(callback); }
    /// Delivers a message of the hidden window and returns its result; throws when nobody is registered.
    std::intptr_t Post(TWindowMessage message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0)
    {
        const TTrayCallback callback = Callback;
        return callback(static_cast<std::uint32_t>(message), wParam, lParam);
    }
    /// Delivers what happened on the icon as the tray callback message, whether or not it is in the tray.
    void Send(TTrayEvent event) { Post(TWindowMessage::TrayCallback, 0, static_cast<std::intptr_t>(event)); }

    bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) override
    {
        const bool add = message == TNotifyIconMessage::nimAdd;
        if ((add && FailAdd) || (message == TNotifyIconMessage::nimDelete && FailDelete))
            throw std::runtime_error("shell gone");
        const bool accepted = add ? !InTray : InTray;
        if (message != TNotifyIconMessage::nimModify)
            InTray = add;
        const char* const names[] = {"add", "modify", "delete"};
        Log.push_back(names[static_cast<int>(message)] + std::string(accepted ? "" : " refused"));
        Requests.push_back({message, data, accepted});
        return accepted;
    }
    bool ExtendedNotifyData() const override { return Extended; }
    TPoint CursorPos() const override { return Cursor; }
    TShiftState KeyState() const override { return Keys; }
    void SetForegroundWindow() override { Log.push_back("foreground"); }
    void PostNullMessage() override { Log.push_back("post WM_NULL"); }
    void ProcessMessages() override { Log.push_back("process messages"); }
    std::uint32_t TrackPopupMenu(const std::vector<TTrayMenuItem>& items, TPoint position) override
    {
        Log.push_back("popup at " + std::to_string(position.X) + "," + std::to_string(position.Y));
        return InMenu ? InMenu(items) : 0;
    }
    bool SetTimer(std::uint32_t id, std::uint32_t interval) override
    {
        if (!NoTimers)
            Timers[id] = interval;
        return !NoTimers;
    }
    void KillTimer(std::uint32_t id) override { Timers.erase(id); }
    bool TrayAvailable() const override { return Available; }

    const TRequest& Last() const { return Requests.back(); }
    void Clear()
    {
        Requests.clear();
        Log.clear();
    }
};

/// A window that only keeps whether it is shown.
struct TFakeTrayWindow : TTrayWindow
{
    bool Shown = false;
    bool Visible() const override { return Shown; }
    void ShowNormal() override { Shown = true; }
    void Hide() override { Shown = false; }
};

/// An application object that collects the messages of the exceptions it is handed.
struct TFakeTrayApplication : TTrayApplication
{
    bool ShowMainForm = true;
    TTrayWindow* Main = nullptr;
    mutable std::vector<std::string> Errors;
    TTrayWindow* MainWindow() override { return Main; }
    void SetShowMainForm(bool value) override { ShowMainForm = value; }
    void HandleException(const std::exception& e) const override { Errors.emplace_back(e.what()); }
};
