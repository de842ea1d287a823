#pragma once

#include "tray/TrayShell.h"

#include <QMenu>

#include <cstdint>
#include <functional>
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
    QPoint Cursor{300, 5};
    TShiftState Keys = 0;
    /// What the user does while the menu is open.
    std::function<void(QMenu&)> InMenu;
    /// The receiver registered by the tray icon.
    TTrayCallback Callback;

    void SetCallback(TTrayCallback callback) override { Callback = std::move(callback); }
    /// Delivers what happened on the icon as the tray callback message, whether or not the icon is in the
    /// tray. Throws when nobody is registered.
    void Send(TTrayEvent event, std::uint32_t iconId = 0)
    {
        if (!Callback)
            throw std::logic_error("no tray callback registered");
        const TTrayCallback callback = Callback;
        callback(static_cast<std::uint32_t>(TWindowMessage::TrayCallback), iconId,
                 static_cast<std::intptr_t>(event));
    }

    bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) override
    {
        bool accepted = false;
        switch (message) {
        case TNotifyIconMessage::nimAdd:
            if (FailAdd)
                throw std::runtime_error("shell gone");
            accepted = !InTray;
            InTray = true;
            Log.push_back(accepted ? "add" : "add refused");
            break;
        case TNotifyIconMessage::nimModify:
            accepted = InTray;
            Log.push_back(accepted ? "modify" : "modify refused");
            break;
        case TNotifyIconMessage::nimDelete:
            if (FailDelete)
                throw std::runtime_error("shell gone");
            accepted = InTray;
            InTray = false;
            Log.push_back(accepted ? "delete" : "delete refused");
            break;
        }
        Requests.push_back({message, data, accepted});
        return accepted;
    }
    bool ExtendedNotifyData() const override { return Extended; }
    QPoint CursorPos() const override { return Cursor; }
    TShiftState KeyState() const override { return Keys; }
    void SetForegroundWindow(QWidget*) override { Log.push_back("foreground"); }
    void PostNullMessage(QObject*) override { Log.push_back("post WM_NULL"); }
    void ProcessMessages() override { Log.push_back("process messages"); }
    void Popup(QMenu& menu, QPoint position) override
    {
        Log.push_back("popup at " + std::to_string(position.x()) + "," + std::to_string(position.y()));
        if (InMenu)
            InMenu(menu);
    }

    bool TrayAvailable() const override { return Available; }

    const TRequest& Last() const { return Requests.back(); }
    void Clear()
    {
        Requests.clear();
        Log.clear();
    }
};
