#include "about/infobox_unit.h"
#include "app/ui/Pictures.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/Startup.h"
#include "app/ui/Unit1.h"
#include "platform/Platform.h"
#include "tray/QtTrayShell.h"
#include "tray/abfComponents.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("fotoimport");
    QApplication::setApplicationDisplayName("fotoimport");
    QApplication::setWindowIcon(ProgramIcon());
    // The main window is hidden most of the time and the About window may be the last one shown: only
    // "Beenden" (or closing the main window) ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start (autostart and a manual start, say) shows the running
    // program's window instead of putting a second icon into the tray.
    TSingleInstance instance;
    if (!instance.IsFirst())
        return 0;
    PreparePictureRuntime();

    TForm1 form1(CreatePlatform(), std::make_unique<TQtTrayShell>());
    Application().MainForm = &form1;
    TAboutBox aboutBox(ProgramPicture());
    form1.SetAboutBox(&aboutBox);
    instance.OnShowRequest = [&form1] { form1.ShowForm(true); };
    if (Application().ShowMainForm)
        form1.show();
    return QApplication::exec();
}
