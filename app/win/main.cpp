#include "app/win/Application.h"
#include "app/win/Resources.h"
#include "app/win/SingleInstance.h"
#include "app/win/Unit1.h"
#include "app/win/WinTrayShell.h"
#include "app/win/infobox_unit.h"
#include "jpeg/JpegImage.h"
#include "platform/CommandLine.h"
#include "platform/Platform.h"

#include <commctrl.h>
#include <cstdlib>
#include <exception>
#include <memory>
#include <utility>

namespace {

/// The message loop: dialog keys (Tab, Enter, Esc) for both windows, and no input for the main window's
/// controls while a run goes on.
int RunMessageLoop(const TForm1& form1, const TAboutBox& aboutBox)
{
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (form1.DropsInput(message))
            continue;
        if (::IsDialogMessageW(aboutBox.Handle(), &message) || ::IsDialogMessageW(form1.Handle(), &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    try {
        // A second start (the Run key at logon and a start by hand, or a drive the user opens with the
        // program) hands its volumes to the running program and shows its window instead of putting a
        // second icon into the tray.
        const std::vector<std::string> volumes = VolumeArguments(ProgramArguments(__argc, __argv));
        TSingleInstance instanceLock;
        if (!instanceLock.IsFirst())
            return instanceLock.HandOver(TForm1::kClassName, volumes) ? 0 : 1;

        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS;
        ::InitCommonControlsEx(&controls);
        RegisterJpegFormats();

        // The shell serves the main window, which comes after it.
        auto shell = std::make_unique<TWinTrayShell>(instance);
        TWinTrayShell& trayShell = *shell;
        const auto icon = reinterpret_cast<TIconHandle>(
            ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                         ::GetSystemMetrics(SM_CYSMICON), 0));
        TForm1 form1(instance, CreatePlatform(), std::move(shell), icon);
        trayShell.SetWindow(form1.Handle());
        Application().MainForm = form1.Handle();
        TAboutBox aboutBox(instance, form1.Handle());
        form1.SetAboutBox(&aboutBox);
        for (const std::string& volume : volumes)
            form1.OpenVolume(volume);
        if (Application().ShowMainForm)
            ::ShowWindow(form1.Handle(), SW_SHOW);
        return RunMessageLoop(form1, aboutBox);
    } catch (const std::exception& e) {
        ::MessageBoxW(nullptr, WideText(e.what()).c_str(), L"fotoimport", MB_OK | MB_ICONERROR);
        return 1;
    }
}
