#include "app/ui/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <unistd.h>

namespace {

const QByteArray kShowRequest = "show\n";
constexpr int kTimeoutMs = 2000;

} // namespace

QString TSingleInstance::DefaultKey()
{
    // The runtime folder is private to the user and session; without one the
    // user id keeps two users on one machine apart.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QString("fotoimport-%1.socket").arg(::getuid()));
}

TSingleInstance::TSingleInstance(const QString& key)
{
    // Two tries: a socket left behind by a program that crashed answers no one,
    // and is removed before listening again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (AskRunningInstance(key))
            return;
        auto server = std::make_unique<QLocalServer>();
        server->setSocketOptions(QLocalServer::UserAccessOption);
        if (server->listen(key)) {
            FRunsAlone = true;
            FServer = std::move(server);
            QObject::connect(FServer.get(), &QLocalServer::newConnection, [this] { ReadRequests(); });
            return;
        }
        if (server->serverError() != QAbstractSocket::AddressInUseError)
            break;
        if (attempt == 0 && !AskRunningInstance(key))
            QLocalServer::removeServer(key);
    }
    // Neither answered nor listening: run anyway rather than not at all.
    FRunsAlone = true;
}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::AskRunningInstance(const QString& key)
{
    QLocalSocket socket;
    socket.connectToServer(key);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(kTimeoutMs))
        return false;
    socket.disconnectFromServer();
    return true;
}

void TSingleInstance::ReadRequests()
{
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        QPointer<QLocalSocket> guard(socket);
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, guard] {
            if (!guard)
                return;
            FRequest += guard->readAll();
            if (FRequest.contains(kShowRequest)) {
                FRequest.clear();
                if (OnShowRequest)
                    OnShowRequest();
            }
        };
        QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
        if (socket->bytesAvailable() > 0)
            read();
    }
}
