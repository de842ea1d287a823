#include "about/infobox_unit.h"
#include "app/ui/Application.h"
#include "app/ui/Pictures.h"
#include "app/ui/QtTrayShell.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/Startup.h"
#include "app/ui/Unit1.h"
#include "platform/CommandLine.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QByteArray>

#include <memory>
#include <utility>

int main(int argc, char** argv)
{
    // The help, the version and unknown options are answered on the terminal, with no display needed.
    const TProgramOptions options = ParseProgramOptions(ProgramArguments(argc, argv));
    if (options.Action != TProgramAction::Run)
        return AnswerOnTerminal(options);
    // The token a launcher gave this start (on Wayland): a second start hands it to the running program,
    // whose window may come forward with it. Taken before Qt, which uses it for the first window it shows.
    const QByteArray activationToken = qgetenv("XDG_ACTIVATION_TOKEN");
    QApplication app(argc, argv);
    // No display name: the title bar shows the window's caption alone.
    QApplication::setApplicationName("fotoimport");
    QApplication::setDesktopFileName("fotoimport");
    QApplication::setWindowIcon(ProgramIcon());
    // The main window is hidden most of the time and the About window may be the last one shown: only
    // "Beenden" (or the end of the session) ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start (autostart and a manual start, or a card the desktop offers to the program) hands its
    // volumes to the running program and shows its window instead of putting a second icon into the tray.
    const QStringList volumes = VolumeArguments(options.Volumes);
    TSingleInstance instance(TSingleInstance::DefaultKey(), volumes, activationToken);
    if (!instance.IsFirst())
        return 0;
    PreparePictureRuntime();

    // The shell serves the main window, which comes after it.
    auto shell = std::make_unique<TQtTrayShell>();
    TQtTrayShell& trayShell = *shell;
    const TIconHandle icon = shell->AddIcon(ProgramIcon());
    TForm1 form1(CreatePlatform(), std::move(shell), icon);
    trayShell.SetWindow(&form1);
    Application().MainForm = &form1;
    TAboutBox aboutBox(ProgramPicture());
    form1.SetAboutBox(&aboutBox);
    instance.OnOpenRequest = [&form1](const QString& volume) { form1.OpenVolume(volume); };
    instance.OnShowRequest = [&form1](const QByteArray& token) { form1.ShowForm(token); };
    for (const QString& volume : volumes)
        form1.OpenVolume(volume);
    if (Application().ShowMainForm)
        form1.show();
    TellTerminal(form1.TrayAvailable());
    return QApplication::exec();
}
