#include "app/win/WinTrayShell.h"

#include <algorithm>
#include <shellapi.h>

namespace {

constexpr const wchar_t* kHiddenClass = L"fotoimport.TrayWindow";

template <std::size_t N, std::size_t M> void CopyField(wchar_t (&to)[N], const std::array<char16_t, M>& from)
{
    constexpr std::size_t n = N < M ? N : M;
    std::copy_n(from.begin(), n, to);
    to[N - 1] = L'\0';
}

/// An owned popup menu.
class TMenuHandle
{
public:
    TMenuHandle()
        : FMenu(::CreatePopupMenu())
    {
    }
    ~TMenuHandle()
    {
        if (FMenu != nullptr)
            ::DestroyMenu(FMenu);
    }
    TMenuHandle(const TMenuHandle&) = delete;
    TMenuHandle& operator=(const TMenuHandle&) = delete;
    HMENU Get() const { return FMenu; }

private:
    HMENU FMenu;
};

} // namespace

TWinTrayShell::TWinTrayShell(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &TWinTrayShell::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kHiddenClass;
    ::RegisterClassExW(&windowClass);
    FTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    FWindow = ::CreateWindowExW(WS_EX_TOOLWINDOW, kHiddenClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance, this);
}

TWinTrayShell::~TWinTrayShell()
{
    if (FWindow != nullptr) {
        ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
        ::DestroyWindow(FWindow);
    }
}

LRESULT CALLBACK TWinTrayShell::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* shell = reinterpret_cast<TWinTrayShell*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (shell == nullptr || shell->FWindow != window)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return shell->Receive(message, wParam, lParam);
}

LRESULT TWinTrayShell::Receive(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The registered number of "TaskbarCreated" differs from run to run; the component knows it by one
    // number of its own.
    std::uint32_t forwarded = message;
    if (message == FTaskbarCreated && FTaskbarCreated != 0)
        forwarded = static_cast<std::uint32_t>(TWindowMessage::TaskbarCreated);
    else if (message != static_cast<UINT>(TWindowMessage::TrayCallback) && message != WM_TIMER &&
             message != WM_QUERYENDSESSION)
        return ::DefWindowProcW(FWindow, message, wParam, lParam);
    if (!FCallback)
        return message == WM_QUERYENDSESSION ? TRUE : 0;
    // Called through a copy: the receiver may replace or clear the registration while it runs.
    const TTrayCallback callback = FCallback;
    const std::intptr_t result = callback(forwarded, wParam, lParam);
    if (forwarded == static_cast<std::uint32_t>(TWindowMessage::TaskbarCreated))
        return ::DefWindowProcW(FWindow, message, wParam, lParam);
    return result;
}

bool TWinTrayShell::NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data)
{
    NOTIFYICONDATAW record{};
    record.cbSize =
        data.cbSize == kExtendedNotifyDataSize ? NOTIFYICONDATAW_V2_SIZE : NOTIFYICONDATAW_V1_SIZE;
    record.hWnd = FWindow;
    record.uID = data.uID;
    record.uFlags = data.uFlags;
    record.uCallbackMessage = data.uCallbackMessage;
    record.hIcon = reinterpret_cast<HICON>(data.hIcon);
    CopyField(record.szTip, data.szTip);
    record.dwState = data.dwState;
    record.dwStateMask = data.dwStateMask;
    CopyField(record.szInfo, data.szInfo);
    record.uTimeout = data.uTimeout;
    CopyField(record.szInfoTitle, data.szInfoTitle);
    record.dwInfoFlags = data.dwInfoFlags;
    DWORD request = NIM_ADD;
    if (message == TNotifyIconMessage::nimModify)
        request = NIM_MODIFY;
    else if (message == TNotifyIconMessage::nimDelete)
        request = NIM_DELETE;
    return ::Shell_NotifyIconW(request, &record) != FALSE;
}

TPoint TWinTrayShell::CursorPos() const
{
    POINT point{};
    ::GetCursorPos(&point);
    return {point.x, point.y};
}

TShiftState TWinTrayShell::KeyState() const
{
    const auto down = [](int key) { return (::GetKeyState(key) & 0x8000) != 0; };
    TShiftState state = 0;
    if (down(VK_SHIFT))
        state |= ssShift;
    if (down(VK_CONTROL))
        state |= ssCtrl;
    if (down(VK_MENU))
        state |= ssAlt;
    return state;
}

void TWinTrayShell::SetForegroundWindow()
{
    // A hidden window stays hidden: bringing it forward would show nothing and take the focus away.
    if (FServed != nullptr && ::IsWindowVisible(FServed))
        ::SetForegroundWindow(FServed);
}

void TWinTrayShell::PostNullMessage()
{
    if (FServed != nullptr)
        ::PostMessageW(FServed, WM_NULL, 0, 0);
    // The menu's own owner gets it as well, so that the menu closes at the next click elsewhere.
    ::PostMessageW(FWindow, WM_NULL, 0, 0);
}

void TWinTrayShell::ProcessMessages()
{
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The main loop must still see the end.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

std::uint32_t TWinTrayShell::TrackPopupMenu(const std::vector<TTrayMenuItem>& items, TPoint position)
{
    TMenuHandle menu;
    if (menu.Get() == nullptr)
        return 0;
    for (const TTrayMenuItem& item : items) {
        const std::wstring caption = WideText(item.Caption);
        ::AppendMenuW(menu.Get(), MF_STRING | (item.Enabled ? MF_ENABLED : MF_GRAYED), item.Command,
                      caption.c_str());
        if (item.Default)
            ::SetMenuDefaultItem(menu.Get(), item.Command, FALSE);
    }
    // A menu closes when the user clicks elsewhere only while its owner is the foreground window; the served
    // window is that only when it shows.
    const HWND owner = FServed != nullptr && ::IsWindowVisible(FServed) ? FServed : FWindow;
    ::SetForegroundWindow(owner);
    const BOOL chosen = ::TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                         position.X, position.Y, 0, owner, nullptr);
    return static_cast<std::uint32_t>(chosen);
}

bool TWinTrayShell::SetTimer(std::uint32_t id, std::uint32_t interval)
{
    return ::SetTimer(FWindow, id, interval, nullptr) != 0;
}

void TWinTrayShell::KillTimer(std::uint32_t id)
{
    ::KillTimer(FWindow, id);
}

bool TWinTrayShell::TrayAvailable() const
{
    return ::FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr;
}
