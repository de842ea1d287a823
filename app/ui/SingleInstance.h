#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

/// Keeps the program to one running instance per user session. The first instance listens on a local
/// socket; a later start finds it there, hands it the volumes it was started with and the activation token
/// the desktop gave it, asks it to show its window, and ends itself.
class TSingleInstance
{
public:
    /// key names the socket; the default is one per user session. volumes: the folders this start was
    /// given, passed on to a running instance. activationToken: the token the desktop gave this start
    /// (XDG_ACTIVATION_TOKEN), with which a running instance may bring its window forward on Wayland;
    /// one that is no valid token is not passed on.
    explicit TSingleInstance(const QString& key = DefaultKey(), const QStringList& volumes = {},
                             const QByteArray& activationToken = {});
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    /// True when this process is the one that runs; false when another instance answered and was asked
    /// to show its window.
    bool IsFirst() const { return FRunsAlone; }

    /// Called in the first instance for each volume a later start was given, in their order.
    std::function<void(const QString& volume)> OnOpenRequest;
    /// Called in the first instance whenever a later start asks it to show, after its volumes, with the
    /// activation token that start had (empty when it had none).
    std::function<void(const QByteArray& activationToken)> OnShowRequest;

    /// Whether text can be an activation token: printable ASCII without spaces, at most kMaxToken long.
    /// Compositors make them of letters, digits and a few signs.
    static bool IsActivationToken(const QByteArray& text);
    static constexpr qsizetype kMaxToken = 1024;

    /// A socket name of its own for the user's session: in the user's private runtime folder, or, where
    /// there is none, named after the user in the temporary folder.
    static QString DefaultKey();

private:
    bool AskRunningInstance(const QString& key, const QStringList& volumes, const QByteArray& token);
    void ReadRequests();
    /// token: the activation token the connection sent for its next show request.
    void HandleRequest(const QByteArray& line, QByteArray& token);

    bool FRunsAlone = false;
    std::unique_ptr<QLocalServer> FServer;
};
