#include "app/ui/Pictures.h"

/// The pictures are compiled into this library; a static link needs them registered by hand once. This
/// stays outside any namespace: the registration function it names lives in the global one.
static void EnsureResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(fotoimport);
        return true;
    }();
    (void)loaded;
}

QPixmap ProgramPicture()
{
    EnsureResources();
    return QPixmap(":/fotoimport/icons/camera100.png");
}

QIcon ProgramIcon()
{
    EnsureResources();
    QIcon icon;
    for (int size : {16, 22, 32, 48})
        icon.addFile(QString(":/fotoimport/icons/camera%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap InfoGlyph()
{
    EnsureResources();
    return QPixmap(":/fotoimport/icons/info16.png");
}
