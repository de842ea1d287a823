#include "app/ui/Startup.h"

#include "app/core/ImportLog.h"
#include "app/core/TransferRun.h"
#include "jpeg/JpegImage.h"
#include "platform/CommandLine.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QUrl>

#include <cstdio>
#include <memory>

void PreparePictureRuntime()
{
    RegisterJpegFormats();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        DefaultOptions.PaletteOutput = screen->depth() <= 8;
}

QStringList VolumeArguments(const QStringList& arguments)
{
    QStringList volumes;
    for (const QString& argument : arguments) {
        if (argument.isEmpty())
            continue;
        QString path = argument;
        // A scheme of two characters or more makes a URL; a drive letter ("C:") is one.
        static const QRegularExpression scheme("^[A-Za-z][A-Za-z0-9+.-]+:");
        if (scheme.match(argument).hasMatch()) {
            QUrl url(argument, QUrl::StrictMode);
            // A file URL naming another host is a network share, no volume of this machine.
            if (!url.isValid() || !url.isLocalFile() ||
                !(url.host().isEmpty() || url.host().compare("localhost", Qt::CaseInsensitive) == 0))
                continue;
            url.setHost(QString());
            path = url.toLocalFile();
        }
        // A later start may run in another folder than the running program.
        volumes << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    }
    return volumes;
}

QStringList VolumeArguments(const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& argument : arguments)
        list << QFile::decodeName(QByteArray(argument.data(), static_cast<qsizetype>(argument.size())));
    return VolumeArguments(list);
}

int AnswerOnTerminal(const TProgramOptions& options)
{
    const TUtf8Console console;
    switch (options.Action) {
    case TProgramAction::Help: {
        const std::unique_ptr<TPlatform> platform = CreatePlatform();
        const std::string documents = platform->DocumentsFolder();
        const std::string photos =
            documents.empty() ? std::string() : platform->JoinPath(documents, kTargetFolder);
        std::fputs(HelpText(photos, TImportLog(*platform).Path()).c_str(), stdout);
        return 0;
    }
    case TProgramAction::Version:
        std::fputs(VersionText(FI_VERSION).c_str(), stdout);
        return 0;
    case TProgramAction::Unknown:
        std::fputs(UnknownOptionText(options.UnknownOption).c_str(), stderr);
        return 2;
    case TProgramAction::Run:
        break;
    }
    return 0;
}

void TellTerminal(bool inTray)
{
    const std::unique_ptr<TPlatform> platform = CreatePlatform();
    if (platform->StderrIsTerminal())
        std::fputs(RunningText(inTray, TImportLog(*platform).Path()).c_str(), stderr);
}
