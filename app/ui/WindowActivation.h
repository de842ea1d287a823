#pragma once

#include <QByteArray>

class QWindow;

/// Brings a shown window forward with an activation token the desktop handed out: the one a launcher puts
/// into XDG_ACTIVATION_TOKEN for the program it starts, or the one a notification gives with its action.
/// On Wayland a client may not raise its own window; the compositor activates it for such a token
/// (xdg_activation_v1). False where that cannot be asked: another platform than Wayland, a compositor
/// without the protocol, a build without the Wayland client library, a window without its surface yet, an
/// empty token. The compositor may still decide to only mark the window as asking for attention.
bool ActivateWithToken(QWindow& window, const QByteArray& token);
