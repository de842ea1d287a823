#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

/// Desktop notifications through the desktop's notification server (org.freedesktop.Notifications on the
/// session bus): the way to tell the user something where the window may not come forward by itself. One
/// notification at a time; a new one takes the place of the one before. Choosing it (its default action)
/// reports the activation token the server handed out with the choice, so that the window can be brought
/// forward with it.
class TDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit TDesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus());

    /// Shows a notification with this title and text (which may be empty), replacing the last one. Returns
    /// at once; without a notification server nothing shows.
    void Notify(const QString& title, const QString& text);
    /// The server's number of the notification shown last; 0 before its answer came.
    std::uint32_t Id() const { return FId; }

    /// The user chose the notification; token: the activation token that came with the choice, empty
    /// when the server gave none (servers before version 1.2 of the notification protocol).
    std::function<void(const QByteArray& token)> OnChosen;

private Q_SLOTS:
    void ActivationToken(uint id, const QString& token);
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection FBus;
    std::uint32_t FId = 0;
    /// The token that came for the notification shown last, before its action.
    QByteArray FToken;
};
