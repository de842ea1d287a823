#include "app/ui/SingleInstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// One request per line: "open <file URL>" for each volume, "activate <token>" when the start had a token,
// then "show".
const QByteArray kShowRequest = "show";
const QByteArray kOpenRequest = "open ";
const QByteArray kActivateRequest = "activate ";
constexpr int kTimeoutMs = 2000;
/// A longer line is no request of ours: the connection is dropped.
constexpr qsizetype kMaxRequest = 64 * 1024;

/// The user's login name as the environment gives it, kept to characters that are safe in a file name.
QString UserName()
{
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("USERNAME");
    if (name.isEmpty())
        name = QDir::home().dirName();
    QString safe;
    for (const QChar c : name)
        safe += c.isLetterOrNumber() || c == '-' || c == '_' || c == '.' ? c : QChar('_');
    return safe;
}

} // namespace

QString TSingleInstance::DefaultKey()
{
    // The runtime folder belongs to the user alone and lives as long as the user's session; Qt makes a
    // private one when the desktop gives none.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!folder.isEmpty())
        return QDir(folder).filePath("fotoimport.socket");
    return QDir(QDir::tempPath()).filePath(QString("fotoimport-%1.socket").arg(UserName()));
}

bool TSingleInstance::IsActivationToken(const QByteArray& text)
{
    return !text.isEmpty() && text.size() <= kMaxToken &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

TSingleInstance::TSingleInstance(const QString& key, const QStringList& volumes,
                                 const QByteArray& activationToken)
{
    const QByteArray token = IsActivationToken(activationToken) ? activationToken : QByteArray();
    // Two tries: a socket left behind by a program that crashed answers no one,
    // and is removed before listening again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (AskRunningInstance(key, volumes, token))
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
        if (attempt == 0 && !AskRunningInstance(key, volumes, token))
            QLocalServer::removeServer(key);
    }
    // Neither answered nor listening: run anyway rather than not at all.
    FRunsAlone = true;
}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::AskRunningInstance(const QString& key, const QStringList& volumes,
                                         const QByteArray& token)
{
    QLocalSocket socket;
    socket.connectToServer(key);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    QByteArray request;
    // A file URL is percent-encoded: a folder name with a line break stays on its line.
    for (const QString& volume : volumes)
        request += kOpenRequest + QUrl::fromLocalFile(volume).toEncoded() + '\n';
    if (!token.isEmpty())
        request += kActivateRequest + token + '\n';
    request += kShowRequest + '\n';
    socket.write(request);
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
        // Each connection collects its own lines, so two starts at once cannot mix their requests.
        auto pending = std::make_shared<QByteArray>();
        auto token = std::make_shared<QByteArray>();
        const auto read = [this, guard, pending, token] {
            if (!guard)
                return;
            *pending += guard->readAll();
            qsizetype end;
            while ((end = pending->indexOf('\n')) >= 0) {
                const QByteArray line = pending->left(end);
                pending->remove(0, end + 1);
                HandleRequest(line, *token);
            }
            if (pending->size() > kMaxRequest) {
                pending->clear();
                guard->abort();
            }
        };
        QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
        if (socket->bytesAvailable() > 0)
            read();
    }
}

void TSingleInstance::HandleRequest(const QByteArray& line, QByteArray& token)
{
    if (line == kShowRequest) {
        const QByteArray shownWith = std::exchange(token, {});
        if (OnShowRequest)
            OnShowRequest(shownWith);
    } else if (line.startsWith(kActivateRequest)) {
        const QByteArray given = line.mid(kActivateRequest.size());
        token = IsActivationToken(given) ? given : QByteArray();
    } else if (line.startsWith(kOpenRequest)) {
        const QUrl url = QUrl::fromEncoded(line.mid(kOpenRequest.size()), QUrl::StrictMode);
        if (url.isValid() && url.isLocalFile() && OnOpenRequest)
            OnOpenRequest(url.toLocalFile());
    }
}
