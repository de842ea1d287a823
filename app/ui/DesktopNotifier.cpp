#include "app/ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include <utility>

namespace {

const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";
const QString kInterface = "org.freedesktop.Notifications";
/// The action a server runs when the notification itself is clicked.
const QString kDefaultAction = "default";

} // namespace

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus)
    : FBus(bus)
{
    // The signals come from whichever program owns the service; each names the notification it is about.
    FBus.connect(QString(), kPath, kInterface, "ActivationToken", this, SLOT(ActivationToken(uint, QString)));
    FBus.connect(QString(), kPath, kInterface, "ActionInvoked", this, SLOT(ActionInvoked(uint, QString)));
    FBus.connect(QString(), kPath, kInterface, "NotificationClosed", this,
                 SLOT(NotificationClosed(uint, uint)));
}

void TDesktopNotifier::Notify(const QString& title, const QString& text)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    QVariantMap hints;
    // The desktop entry names the program; GNOME shows its name and icon and keeps it in its list.
    hints.insert("desktop-entry", QString("fotoimport"));
    call << QString("fotoimport") << FId << QString("fotoimport") << title << text
         << QStringList{kDefaultAction, title} << hints << -1;
    FToken.clear();
    // Asynchronous: a missing or slow server never holds the window up.
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<uint> reply = *done;
        if (reply.isValid())
            FId = reply.value();
        done->deleteLater();
    });
}

void TDesktopNotifier::ActivationToken(uint id, const QString& token)
{
    // Sent just before ActionInvoked by servers of version 1.2 and later.
    if (id == FId && FId != 0)
        FToken = token.toUtf8();
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& action)
{
    if (id != FId || FId == 0 || action != kDefaultAction)
        return;
    const QByteArray token = std::exchange(FToken, {});
    if (OnChosen)
        OnChosen(token);
}

void TDesktopNotifier::NotificationClosed(uint id, uint)
{
    if (id == FId) {
        FId = 0;
        FToken.clear();
    }
}
