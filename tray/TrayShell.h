#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>

class QMenu;
class QObject;
class QWidget;
class TabfHiddenWindow;

/// A window message as the tray icon's hidden window receives it.
struct TMessage
{
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

// Message numbers the tray icon reacts to; the values are the shell's own.
constexpr std::uint32_t WM_NULL = 0x0000;
constexpr std::uint32_t WM_QUERYENDSESSION = 0x0011;
constexpr std::uint32_t WM_TIMER = 0x0113;
constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x0203;
constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr std::uint32_t WM_RBUTTONUP = 0x0205;
constexpr std::uint32_t WM_RBUTTONDBLCLK = 0x0206;
constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;
constexpr std::uint32_t WM_MBUTTONUP = 0x0208;
constexpr std::uint32_t NIN_BALLOONSHOW = 0x0402;
constexpr std::uint32_t NIN_BALLOONTIMEOUT = 0x0404;
constexpr std::uint32_t NIN_BALLOONUSERCLICK = 0x0405;
/// The message the shell sends to the hidden window for mouse actions on the icon (WM_USER + 211).
constexpr std::uint32_t kTrayCallbackMessage = 0x04D3;
/// The "TaskbarCreated" broadcast: a new tray host asks every icon to add itself again. Registered
/// messages live above 0xC000; this one number stands for it in the whole program.
constexpr std::uint32_t TaskbarCreatedMsg = 0xC0DE;

// uFlags of the notify record.
constexpr std::uint32_t NIF_MESSAGE = 0x01;
constexpr std::uint32_t NIF_ICON = 0x02;
constexpr std::uint32_t NIF_TIP = 0x04;
constexpr std::uint32_t NIF_INFO = 0x10;

/// The three requests that the shell understands (their numbers are the shell's).
enum class TNotifyIconMessage
{
    nimAdd = 0,
    nimModify = 1,
    nimDelete = 2
};

/// The shell's notify record, in its wide-character layout: the same fields and character limits as the
/// ANSI record (tip 128, balloon text 256, balloon title 64, each with its terminating zero).
struct TNotifyIconData
{
    std::uint32_t cbSize = 0;
    TabfHiddenWindow* hWnd = nullptr;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    QIcon hIcon;
    std::array<char16_t, 128> szTip{};
    std::uint32_t dwState = 0;
    std::uint32_t dwStateMask = 0;
    std::array<char16_t, 256> szInfo{};
    std::uint32_t uTimeout = 0;
    std::array<char16_t, 64> szInfoTitle{};
    std::uint32_t dwInfoFlags = 0;
};

/// Size of the extended record (balloons and 128-character tips) and of the short one.
constexpr std::uint32_t kExtendedNotifyDataSize = 488;
constexpr std::uint32_t kShortNotifyDataSize = 88;

/// Text of a zero-terminated record field.
template <std::size_t N> QString FieldText(const std::array<char16_t, N>& field)
{
    std::size_t length = 0;
    while (length < N && field[length] != 0)
        ++length;
    return QString::fromUtf16(field.data(), static_cast<qsizetype>(length));
}

/// Copies at most maxChars characters of text into a record field and ends it with a zero. A surrogate
/// pair is never split, so the field always holds valid text.
template <std::size_t N>
void SetFieldText(std::array<char16_t, N>& field, const QString& text, std::size_t maxChars)
{
    static_assert(N > 0);
    field.fill(0);
    std::size_t count = std::min<std::size_t>({static_cast<std::size_t>(text.size()), maxChars, N - 1});
    if (count > 0 && count < static_cast<std::size_t>(text.size()) &&
        text.at(static_cast<qsizetype>(count - 1)).isHighSurrogate())
        --count;
    for (std::size_t i = 0; i < count; ++i)
        field[i] = text.at(static_cast<qsizetype>(i)).unicode();
}

/// Keyboard and mouse-button state passed with mouse events.
enum TShiftStateFlag : unsigned
{
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20
};
using TShiftState = unsigned;

enum class TMouseButton
{
    mbLeft,
    mbRight,
    mbMiddle
};

/// Everything the tray icon asks of the desktop: the notification area itself and the few window calls
/// around it. The program's shell sits on QSystemTrayIcon; tests use a recording fake.
class TTrayShell
{
public:
    virtual ~TTrayShell() = default;

    /// Sends an add, modify or delete request. False when the shell refuses it; callers never look.
    virtual bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) = 0;
    /// Whether the shell takes the extended record (balloons, 128-character tips).
    virtual bool ExtendedNotifyData() const = 0;
    /// The mouse cursor in screen coordinates.
    virtual QPoint CursorPos() const = 0;
    /// Shift, Ctrl and Alt as far as they are held down now.
    virtual TShiftState KeyState() const = 0;
    virtual void SetForegroundWindow(QWidget* window) = 0;
    /// Posts the empty message to a window, so that a menu it opened closes properly.
    virtual void PostNullMessage(QObject* window) = 0;
    /// Runs everything that waits in the event queue.
    virtual void ProcessMessages() = 0;
    /// Pops the menu up at a screen position and returns when it has closed.
    virtual void Popup(QMenu& menu, QPoint position) = 0;
};
