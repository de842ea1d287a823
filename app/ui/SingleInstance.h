#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QString>

#include <functional>
#include <memory>

/// Keeps the program to one running instance per user session. The first
/// instance listens on a local socket; a later start finds it there, asks it
/// to show its window, and ends itself.
class TSingleInstance
{
public:
    /// key names the socket; the default is one per user.
    explicit TSingleInstance(const QString& key = DefaultKey());
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    /// True when this process is the one that runs; false when another
    /// instance answered and was asked to show its window.
    bool IsFirst() const { return FRunsAlone; }

    /// Called in the first instance whenever a later start asks it to show.
    std::function<void()> OnShowRequest;

    /// A socket name of its own for the user, in the user's runtime folder.
    static QString DefaultKey();

private:
    bool AskRunningInstance(const QString& key);
    void ReadRequests();

    bool FRunsAlone = false;
    std::unique_ptr<QLocalServer> FServer;
    QByteArray FRequest;
};
