#include "app/win/infobox_unit.h"

#include "about/AboutInfo.h"
#include "app/win/Application.h"
#include "app/win/Resources.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

constexpr const wchar_t* kClassName = L"fotoimport.TAboutBox";
constexpr int kClientWidth = 298;
constexpr int kClientHeight = 212;
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kBlue = RGB(0, 0, 255);
/// Panel1's place; the rows inside it are placed relative to it.
constexpr int kPanelX = 8;
constexpr int kPanelY = 8;

enum : int
{
    kPanel1 = 201,
    kMemo1,
    kCopyright,
    kLabel1,
    kLabel2
};

/// The thank-you text, line by line; every line ends with one blank.
const char* const kMemoLines[] = {
    "Vielen Dank, dass Sie dieses ", "Programm testen und nutzen. ",
    "Ich würde mich über ",          "Anregungen und ",
    "Verbesserungsvorschläge ",      "freuen. Die Nutzung dieses ",
    "Programmes geschieht auf ",     "eigenes Risiko. ",
};

/// Characters a mail address's query may carry as they are; every other byte of the UTF-8 text is
/// percent-encoded.
std::string PercentEncoded(const std::string& text)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

} // namespace

TAboutBox::TAboutBox(HINSTANCE instance, HWND owner, TOpenUrl openUrl)
    : FOwner(owner)
    , FOpenUrl(std::move(openUrl))
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &TAboutBox::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);
    FPicture =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_PICTURE), IMAGE_ICON, 100, 100, 0));
    FFont = DialogFont(11, false);
    FLinkFont = DialogFont(11, false, true);
    FHand = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND));

    // A dialog frame with the system menu's close button only, not resizable, above every other window.
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    FHandle = ::CreateWindowExW(exStyle, kClassName, L"Info", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                instance, this);

    // Lowered outside, raised inside: an etched frame around the panel.
    Panel1 = AddControl(WC_STATICW, L"", SS_ETCHEDFRAME, kPanel1, kPanelX, kPanelY, 281, 161, FFont);
    std::string memo;
    for (const char* line : kMemoLines)
        memo += std::string(memo.empty() ? "" : "\r\n") + line;
    Memo1 = AddControl(WC_EDITW, WideText(memo), ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER, kMemo1,
                       kPanelX + 112, kPanelY + 9, 161, 99, FFont);
    Copyright = AddControl(WC_STATICW, WideText(kAboutNotice), SS_CENTER | SS_NOPREFIX, kCopyright,
                           kPanelX + 76, kPanelY + 112, 129, 13, FFont);
    Label1 = AddControl(WC_STATICW, WideText(kAboutWebAddress), SS_NOTIFY | SS_NOPREFIX, kLabel1,
                        kPanelX + 88, kPanelY + 128, 105, 13, FLinkFont);
    Label2 = AddControl(WC_STATICW, WideText(kAboutMailAddress), SS_NOTIFY | SS_NOPREFIX, kLabel2,
                        kPanelX + 60, kPanelY + 144, 160, 13, FLinkFont);
    OKButton = AddControl(WC_BUTTONW, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 111, 180, 75, 25, FFont);
}

TAboutBox::~TAboutBox()
{
    if (FHandle != nullptr) {
        ::SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        ::DestroyWindow(FHandle);
    }
    ::DeleteObject(FFont);
    ::DeleteObject(FLinkFont);
    ::DestroyIcon(FPicture);
}

HWND TAboutBox::AddControl(const wchar_t* className, const std::wstring& text, DWORD style, int id, int x,
                           int y, int width, int height, HFONT font)
{
    const HWND control =
        ::CreateWindowExW(0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                          FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(FHandle, GWLP_HINSTANCE)), nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void TAboutBox::ShowAbout()
{
    if (!::IsWindowVisible(FHandle)) {
        RECT window{};
        ::GetWindowRect(FHandle, &window);
        RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int width = window.right - window.left;
        const int height = window.bottom - window.top;
        ::SetWindowPos(FHandle, HWND_TOPMOST, work.left + (work.right - work.left - width) / 2,
                       work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE);
    }
    ::ShowWindow(FHandle, SW_SHOW);
    ::SetForegroundWindow(FHandle);
    ::SetFocus(OKButton);
}

std::wstring TAboutBox::WebUrl()
{
    return L"http://" + WideText(kAboutWebAddress);
}

std::wstring TAboutBox::MailUrl()
{
    return L"mailto:" + WideText(kAboutMailAddress) + L"?subject=" +
           WideText(PercentEncoded(kAboutMailSubject));
}

void TAboutBox::Label1Click()
{
    OpenUrl(WebUrl());
}

void TAboutBox::Label2Click()
{
    OpenUrl(MailUrl());
}

void TAboutBox::OKButtonClick()
{
    ::ShowWindow(FHandle, SW_HIDE);
}

void TAboutBox::OpenUrl(const std::wstring& url)
{
    if (FOpenUrl) {
        FOpenUrl(url);
        return;
    }
    // Without a browser or mail program nothing happens; there is nothing to tell the user.
    ::ShellExecuteW(FOwner, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CALLBACK TAboutBox::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* box = static_cast<TAboutBox*>(create->lpCreateParams);
        box->FHandle = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(box));
    }
    auto* box = reinterpret_cast<TAboutBox*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (box == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return box->Receive(message, wParam, lParam);
}

LRESULT TAboutBox::Receive(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            OKButtonClick();
        else if (LOWORD(wParam) == kLabel1 && HIWORD(wParam) == STN_CLICKED)
            Label1Click();
        else if (LOWORD(wParam) == kLabel2 && HIWORD(wParam) == STN_CLICKED)
            Label2Click();
        return 0;
    case WM_CTLCOLORSTATIC: {
        const auto control = reinterpret_cast<HWND>(lParam);
        const auto dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, control == Memo1 ? kNavy : kBlue);
        ::SetBkColor(dc, ::GetSysColor(control == Memo1 ? COLOR_WINDOW : COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(control == Memo1 ? COLOR_WINDOW : COLOR_BTNFACE));
    }
    case WM_SETCURSOR: {
        const auto over = reinterpret_cast<HWND>(wParam);
        if ((over == Label1 || over == Label2) && FHand != nullptr) {
            ::SetCursor(FHand);
            return TRUE;
        }
        break;
    }
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = ::BeginPaint(FHandle, &paint);
        if (FPicture != nullptr)
            ::DrawIconEx(dc, kPanelX + 8, kPanelY + 8, FPicture, 100, 100, 0, nullptr, DI_NORMAL);
        ::EndPaint(FHandle, &paint);
        return 0;
    }
    case WM_CLOSE:
        OKButtonClick();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(FHandle, message, wParam, lParam);
}
