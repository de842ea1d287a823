#include "app/ui/Startup.h"

#include "jpeg/JpegImage.h"

#include <QGuiApplication>
#include <QScreen>

void PreparePictureRuntime()
{
    RegisterJpegFormats();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        DefaultOptions.PaletteOutput = screen->depth() <= 8;
}
