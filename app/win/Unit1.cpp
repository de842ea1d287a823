#include "app/win/Unit1.h"

#include "app/ui/Guarded.h"
#include "app/win/Resources.h"
#include "app/win/SingleInstance.h"
#include "app/win/WinTrayShell.h"
#include "app/win/infobox_unit.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdio>
#include <initializer_list>
#include <shellapi.h>
#include <utility>
#include <uxtheme.h>

namespace {

constexpr int kClientWidth = 354;
constexpr int kClientHeight = 146;
constexpr UINT kTimerInterval = 1000;
constexpr COLORREF kNavy = RGB(0, 0, 128);

enum : UINT_PTR
{
    kTimer1 = 1,
    kPollTimer = 2,
    kTrayTimer = 3
};
enum : int
{
    // Above IDOK and IDCANCEL, which the dialog keys send.
    kRadioButton1 = 101,
    kRadioButton2,
    kCheckBox1,
    kLabel1,
    kProgressBar1,
    kButton2,
    kinfoBtn,
    kButton1,
    kStatusBar1
};
/// Posted to the window when a task was queued for it.
constexpr UINT kRunTasks = WM_APP + 1;

HICON LoadIconResource(HINSTANCE instance, int id, int size)
{
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

} // namespace

TForm1::TForm1(HINSTANCE instance, std::unique_ptr<TPlatform> platform, std::unique_ptr<TWinTrayShell> shell,
               TIconHandle icon, TWinApplication& application)
    : FApplication(application)
    , FPlatform(std::move(platform))
    , FShell(std::move(shell))
    , FPolicy(*FPlatform, *this)
    , abfTrayIcon(&FTrayWindow, *FShell, application)
{
    FTasks.OnPosted = [this] { ::PostMessageW(FHandle, kRunTasks, 0, 0); };
    BuildControls(instance);
    FTrayWindow.SetHandle(FHandle);
    FShell->SetWindow(FHandle);
    ::SetTimer(FHandle, kTimer1, kTimerInterval, nullptr);
    FTicking = true;
    BuildTrayIcon(icon);
    FormCreate();
    // A tray may come (or go) after the program has started: the question is asked again now and then.
    ::SetTimer(FHandle, kTrayTimer, kTrayCheckInterval, nullptr);
    ::SetTimer(FHandle, kPollTimer, kPollInterval, nullptr);
}

TForm1::~TForm1()
{
    if (FHandle != nullptr) {
        ::SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        ::DestroyWindow(FHandle);
    }
    for (HFONT font : {FFont, FBoldFont, FLabelFont, FLinkFont})
        ::DeleteObject(font);
    for (HICON picture : {FPicture, FInfoGlyph})
        ::DestroyIcon(picture);
}

void TForm1::BuildControls(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &TForm1::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconResource(instance, IDI_PROGRAM, ::GetSystemMetrics(SM_CXICON));
    windowClass.hIconSm = LoadIconResource(instance, IDI_PROGRAM, ::GetSystemMetrics(SM_CXSMICON));
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);

    FFont = DialogFont(11, false);
    FBoldFont = DialogFont(11, true);
    FLabelFont = DialogFont(13, true);
    FLinkFont = DialogFont(13, true, true);
    FFace = ::GetSysColorBrush(COLOR_BTNFACE);
    FPicture = LoadIconResource(instance, IDI_PICTURE, 100);
    FInfoGlyph = LoadIconResource(instance, IDI_INFO, 16);

    // A dialog frame with a caption and no system menu: no minimise, maximise or close button, no resizing.
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    FHandle = ::CreateWindowExW(exStyle, kClassName, WideText(kTextWaitForCamera).c_str(), style, x, y, width,
                                height, nullptr, nullptr, instance, this);
    if (FHandle == nullptr)
        throw Exception("Das Fenster kann nicht erzeugt werden");

    RadioButton1 = AddControl(WC_BUTTONW, kTextCopyPhotos, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
                              kRadioButton1, 112, 8, 113, 17);
    RadioButton2 =
        AddControl(WC_BUTTONW, kTextMovePhotos, BS_AUTORADIOBUTTON, kRadioButton2, 112, 24, 241, 17);
    CheckBox1 = AddControl(WC_BUTTONW, kTextTurnIfPossible, BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP,
                           kCheckBox1, 112, 40, 241, 17);
    // As wide as the progress bar below it, over which it stands centred: the longer texts of the end of a
    // run ("Übertragung mit Fehlern beendet") need more than the 182 pixels the layout first gave it.
    Label1 =
        AddControl(WC_STATICW, kTextNoDevice, SS_CENTER | SS_NOPREFIX | SS_NOTIFY, kLabel1, 112, 64, 233, 16);
    ProgressBar1 = AddControl(PROGRESS_CLASSW, "", 0, kProgressBar1, 112, 82, 233, 10);
    Button2 = AddControl(WC_BUTTONW, kTextCopyPhotos, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, kButton2, 112,
                         96, 100, 25);
    infoBtn = AddControl(WC_BUTTONW, "", BS_PUSHBUTTON | BS_ICON | WS_TABSTOP, kinfoBtn, 216, 96, 27, 25);
    Button1 = AddControl(WC_BUTTONW, kTextCloseWindowButton, BS_PUSHBUTTON | WS_TABSTOP, kButton1, 248, 96,
                         100, 25);
    StatusBar1 = AddControl(STATUSCLASSNAMEW, "", CCS_BOTTOM, kStatusBar1, 0, 127, kClientWidth, 19);
    FCaption = kTextWaitForCamera;
    FLabel1 = kTextNoDevice;
    FTurnCaption = kTextTurnIfPossible;

    for (HWND navy : {RadioButton1, RadioButton2, CheckBox1}) {
        // Visual styles draw a button's text in the theme's colour; the navy of these needs the classic look.
        ::SetWindowTheme(navy, L"", L"");
        ::SendMessageW(navy, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont), FALSE);
    }
    ::SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(FLabelFont), FALSE);
    ::SendMessageW(RadioButton1, BM_SETCHECK, BST_CHECKED, 0);
    ::SendMessageW(CheckBox1, BM_SETCHECK, BST_CHECKED, 0);
    ::SendMessageW(infoBtn, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(FInfoGlyph));
    ::EnableWindow(Button2, FALSE);
    SetProgress(100, 0);
    // The last panel reaches to the window's right edge, as status bars do, so that "n Fotos gedreht" is not
    // cut off at its design width of 50.
    const int parts[] = {150, -1};
    ::SendMessageW(StatusBar1, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    ::SendMessageW(StatusBar1, SB_SETMINHEIGHT, 19, 0);
    ::SendMessageW(StatusBar1, WM_SIZE, 0, 0);

    PopupMenu1.SetName("PopupMenu1");
    ffnen1.SetName("ffnen1");
    Fensterschliessen1.SetName("Fensterschliessen1");
    Fotosanzeigen1.SetName("Fotosanzeigen1");
    Protokollanzeigen1.SetName("Protokollanzeigen1");
    Beenden1.SetName("Beenden1");
    ffnen1.OnClick = [this](TComponent*) { ffnen1Click(); };
    Fensterschliessen1.OnClick = [this](TComponent*) { Fensterschliessen1Click(); };
    Fotosanzeigen1.OnClick = [this](TComponent*) { Fotosanzeigen1Click(); };
    Protokollanzeigen1.OnClick = [this](TComponent*) { Protokollanzeigen1Click(); };
    Fotosanzeigen1.SetEnabled(false);
    Protokollanzeigen1.SetEnabled(false);
    Beenden1.OnClick = [this](TComponent*) { Beenden1Click(); };
}

HWND TForm1::AddControl(const wchar_t* className, const std::string& text, DWORD style, int id, int x, int y,
                        int width, int height)
{
    const HWND control =
        ::CreateWindowExW(0, className, WideText(text).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width,
                          height, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(FHandle, GWLP_HINSTANCE)), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    return control;
}

void TForm1::BuildTrayIcon(TIconHandle icon)
{
    // The same order as a form loads its tray icon: the hint reaches the shell with the first add.
    abfTrayIcon.SetName("abfTrayIcon");
    abfTrayIcon.SetHint(kTextWaitForCameraDesign);
    abfTrayIcon.LoadFormIcon(icon);
    abfTrayIcon.SetMinimizeToTray(true);
    abfTrayIcon.SetMinimizeOnStart(true);
    abfTrayIcon.SetPopupMenu(&PopupMenu1);
    abfTrayIcon.SetVisible(true);
    abfTrayIcon.OnClick = [this](TComponent* sender) { abfTrayIconClick(sender); };
    abfTrayIcon.Loaded();
}

void TForm1::FormCreate()
{
    Guarded(FApplication, [this] {
        const bool trayAvailable = FShell->TrayAvailable();
        abfTrayIcon.SetMinimizeToTray(trayAvailable);
        FPolicy.Start(trayAvailable);
    });
}

void TForm1::Timer1Timer()
{
    Guarded(FApplication, [this] { FPolicy.Tick(); });
}

void TForm1::abfTrayIconClick(TComponent*)
{
    Guarded(FApplication, [this] { FPolicy.OpenWindow(); });
}

void TForm1::ffnen1Click()
{
    Guarded(FApplication, [this] { FPolicy.OpenWindow(); });
}

void TForm1::Fensterschliessen1Click()
{
    Guarded(FApplication, [this] { FPolicy.CloseWindow(); });
}

void TForm1::Beenden1Click()
{
    Guarded(FApplication, [this] { FPolicy.EndRequested(); });
}

void TForm1::infoBtnClick()
{
    Guarded(FApplication, [this] {
        if (FAboutBox != nullptr)
            FAboutBox->ShowAbout();
    });
}

void TForm1::Button1Click()
{
    Guarded(FApplication, [this] { FPolicy.Dismiss(); });
}

void TForm1::Button2Click()
{
    Guarded(FApplication, [this] {
        const bool move = ::SendMessageW(RadioButton2, BM_GETCHECK, 0, 0) == BST_CHECKED;
        const bool turn = ::SendMessageW(CheckBox1, BM_GETCHECK, 0, 0) == BST_CHECKED;
        FPolicy.Transfer({move, turn});
    });
}

void TForm1::Fotosanzeigen1Click()
{
    Guarded(FApplication, [this] { FPolicy.ShowPhotos(); });
}

void TForm1::Protokollanzeigen1Click()
{
    Guarded(FApplication, [this] { FPolicy.ShowLog(); });
}

void TForm1::Label1Click()
{
    Guarded(FApplication, [this] { FPolicy.MessageClicked(); });
}

void TForm1::StatusBar1Click()
{
    Guarded(FApplication, [this] { FPolicy.StatusClicked(); });
}

void TForm1::ShowForm()
{
    Guarded(FApplication, [this] { FPolicy.OpenWindow(); });
}

void TForm1::OpenVolume(const std::string& path)
{
    Guarded(FApplication, [&] { FPolicy.OfferVolume(path); });
}

void TForm1::CheckTray()
{
    Guarded(FApplication, [this] {
        const bool available = FShell->TrayAvailable();
        abfTrayIcon.SetMinimizeToTray(available);
        FPolicy.TrayChanged(available);
    });
}

bool TForm1::DropsInput(const MSG& message) const
{
    if (!FBusy || message.hwnd == nullptr || !::IsChild(FHandle, message.hwnd))
        return false;
    return (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
           (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST &&
            message.message != WM_MOUSEMOVE);
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<TForm1*>(create->lpCreateParams);
        form->FHandle = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return form->Receive(message, wParam, lParam);
}

LRESULT TForm1::Receive(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        // A button's BN_CLICKED, or the message's STN_CLICKED (both 0).
        if (HIWORD(wParam) == BN_CLICKED)
            Command(LOWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto* note = reinterpret_cast<const NMHDR*>(lParam);
        if (note->hwndFrom == StatusBar1 && note->code == static_cast<UINT>(NM_CLICK) && !FBusy)
            StatusBar1Click();
        return 0;
    }
    case WM_SETCURSOR: {
        // A link shows the hand over it.
        const auto control = reinterpret_cast<HWND>(wParam);
        if ((control == Label1 && FMessageLink) || (control == StatusBar1 && FStatusLink)) {
            ::SetCursor(::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
            return TRUE;
        }
        break;
    }
    case WM_TIMER:
        if (wParam == kTimer1)
            Timer1Timer();
        else if (wParam == kPollTimer)
            Guarded(FApplication, [this] { FPolicy.Poll(); });
        else if (wParam == kTrayTimer)
            CheckTray();
        return 0;
    case kRunTasks:
        FTasks.Run();
        return 0;
    case WM_CTLCOLORSTATIC: {
        const auto control = reinterpret_cast<HWND>(lParam);
        const auto dc = reinterpret_cast<HDC>(wParam);
        if (control == RadioButton1 || control == RadioButton2 || control == CheckBox1 || control == Label1)
            ::SetTextColor(dc, kNavy);
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(FFace);
    }
    case WM_PAINT:
        Paint();
        return 0;
    case WM_CLOSE:
        // The close of Alt+F4 (the window has no close button) hides the window as "Fenster schliessen"
        // does; only "Beenden" and the end of the session end the program.
        if (!FQuitting)
            Guarded(FApplication, [this] { FPolicy.CloseWindow(); });
        return 0;
    case WM_SHOWWINDOW:
        if (wParam == FALSE && lParam == 0)
            Guarded(FApplication, [this] { FPolicy.WindowHidden(); });
        break;
    case WM_SIZE:
        ::SendMessageW(StatusBar1, WM_SIZE, 0, 0);
        if (wParam == SIZE_MINIMIZED) {
            // Minimising the window minimises the application: the tray icon takes it into the tray.
            abfTrayIcon.ApplicationMinimized();
            if (::IsIconic(FHandle))
                Guarded(FApplication, [this] { FPolicy.WindowMinimised(); });
        }
        return 0;
    case WM_COPYDATA:
        return HandleInstanceRequest(
                   *reinterpret_cast<const COPYDATASTRUCT*>(lParam),
                   [this](const std::string& volume) { OpenVolume(volume); }, [this] { ShowForm(); })
                   ? TRUE
                   : FALSE;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE)
            EndSession();
        return 0;
    case WM_DESTROY:
        if (FQuitting)
            ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(FHandle, message, wParam, lParam);
}

void TForm1::Command(int id)
{
    // Input that reached a control in spite of the loop's filter (a click sent by another program) is
    // dropped too while a run goes on.
    if (FBusy)
        return;
    switch (id) {
    case kButton2:
        Button2Click();
        break;
    case kButton1:
    case IDCANCEL:
        Button1Click();
        break;
    case kinfoBtn:
        infoBtnClick();
        break;
    case kLabel1:
        Label1Click();
        break;
    default:
        break;
    }
}

void TForm1::Paint()
{
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(FHandle, &paint);
    // Image1: the program's picture, drawn with its transparency over the window's face.
    if (FPicture != nullptr)
        ::DrawIconEx(dc, 8, 16, FPicture, 100, 100, 0, nullptr, DI_NORMAL);
    ::EndPaint(FHandle, &paint);
}

void TForm1::EndSession()
{
    // The session ends once this message has been answered: the program ends here as "Beenden" does, after
    // the photos in hand when a run goes on (or cut off when a device holds the run).
    Guarded(FApplication, [this] { FPolicy.EndRequested(); });
    while (FPolicy.InRun()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollInterval, QS_ALLINPUT);
        FShell->ProcessMessages();
        Guarded(FApplication, [this] { FPolicy.Poll(); });
    }
}

void TForm1::SetText(HWND control, std::string& shown, const std::string& text)
{
    if (shown == text)
        return;
    shown = text;
    ::SetWindowTextW(control, WideText(text).c_str());
}

void TForm1::SetProgress(int max, int position)
{
    // A maximum of 0 (a card without photos) shows an empty bar.
    max = std::max(0, max);
    position = std::clamp(position, 0, max);
    if (max != FProgressMax)
        ::SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, std::max(1, max));
    if (max != FProgressMax || position != FProgressPosition)
        ::SendMessageW(ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    FProgressMax = max;
    FProgressPosition = position;
}

void TForm1::Render(const TWindowState& state)
{
    SetText(FHandle, FCaption, state.Caption);
    abfTrayIcon.SetHint(state.TrayHint);
    SetText(Label1, FLabel1, state.Message);
    if (state.Panel1 != FPanel1) {
        FPanel1 = state.Panel1;
        ::SendMessageW(StatusBar1, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(WideText(FPanel1).c_str()));
    }
    if (state.Panel2 != FPanel2) {
        FPanel2 = state.Panel2;
        ::SendMessageW(StatusBar1, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(WideText(FPanel2).c_str()));
    }
    SetProgress(state.ProgressMax, state.ProgressPosition);
    ::EnableWindow(Button2, state.TransferEnabled);
    SetText(CheckBox1, FTurnCaption, state.TurnCaption);
    ::EnableWindow(CheckBox1, state.TurnEnabled);
    Beenden1.SetEnabled(state.QuitEnabled);
    RenderLinks(state);
    FBusy = state.Busy;
    // Starting a running timer again would break its rhythm.
    if (!state.Ticking && FTicking)
        ::KillTimer(FHandle, kTimer1);
    else if (state.Ticking && !FTicking)
        ::SetTimer(FHandle, kTimer1, kTimerInterval, nullptr);
    FTicking = state.Ticking;
}

void TForm1::RenderLinks(const TWindowState& state)
{
    Fotosanzeigen1.SetEnabled(state.PhotosToShow);
    Protokollanzeigen1.SetEnabled(state.LogToShow);
    if (state.MessageShowsPhotos != FMessageLink) {
        FMessageLink = state.MessageShowsPhotos;
        ::SendMessageW(Label1, WM_SETFONT, reinterpret_cast<WPARAM>(FMessageLink ? FLinkFont : FLabelFont),
                       TRUE);
    }
    FStatusLink = state.StatusShowsLog;
}

namespace {

/// Hands path to the shell, which opens a folder in the Explorer and a file in the program of its type.
bool OpenInShell(const std::string& path)
{
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", WideText(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

} // namespace

bool TForm1::OpenFolder(const std::string& path)
{
    return OpenInShell(path);
}

bool TForm1::OpenFile(const std::string& path)
{
    return OpenInShell(path);
}

void TForm1::ShowWindow(bool activate)
{
    // A window minimised before it went to the tray comes back in its normal state.
    if (::IsIconic(FHandle))
        ::ShowWindow(FHandle, activate ? SW_RESTORE : SW_SHOWNOACTIVATE);
    else if (!::IsWindowVisible(FHandle))
        ::ShowWindow(FHandle, activate ? SW_SHOW : SW_SHOWNOACTIVATE);
    ::SetWindowPos(FHandle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | (activate ? 0 : SWP_NOACTIVATE));
    if (activate)
        ::SetForegroundWindow(FHandle);
}

void TForm1::HideWindow()
{
    if (::IsIconic(FHandle))
        ::ShowWindow(FHandle, SW_SHOWNOACTIVATE);
    ::ShowWindow(FHandle, SW_HIDE);
}

void TForm1::MinimizeWindow()
{
    ::ShowWindow(FHandle, SW_SHOWMINNOACTIVE);
}

TWindowShow TForm1::WindowShow() const
{
    if (!::IsWindowVisible(FHandle))
        return TWindowShow::Hidden;
    return ::IsIconic(FHandle) ? TWindowShow::Minimised : TWindowShow::Shown;
}

void TForm1::Post(std::function<void()> task)
{
    // Queued for the window's thread, which the posted message wakes; an exception the task throws is shown
    // as a handler's.
    FTasks.Post([this, task = std::move(task)] { Guarded(FApplication, task); });
}

void TForm1::Quit()
{
    FQuitting = true;
    ::DestroyWindow(FHandle);
}

void TForm1::Exit()
{
    // Work that waits for a device cannot be waited for: the icon leaves the tray, and the process ends
    // without tearing down what that work still uses.
    Guarded(FApplication, [this] { abfTrayIcon.SetVisible(false); });
    ::ShowWindow(FHandle, SW_HIDE);
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), 0);
}
