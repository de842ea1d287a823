#include "app/ui/Startup.h"

#include "jpeg/JpegImage.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QUrl>

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
