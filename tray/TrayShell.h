#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

class QMenu;
class QObject;
class QWidget;

// The names below are the program's own: the Windows headers define the shell's names (WM_TIMER,
// NIF_ICON, ...) as macros, which would rewrite any identifier spelt like them.

/// Window messages of the tray icon's hidden window; the numbers are the shell's own. Other message
/// numbers travel unchanged in a value of this type.
enum class TWindowMessage : std::uint32_t
{
    Null = 0x0000,
    QueryEndSession = 0x0011,
    Timer = 0x0113,
    /// The message the shell sends for mouse actions on the icon (WM_USER + 211).
    TrayCallback = 0x04D3,
    /// The "TaskbarCreated" broadcast (TaskbarCreatedMsg): a new tray host asks every icon to add itself
    /// again. Registered messages live above 0xC000; this one number stands for it in the whole program.
    TaskbarCreated = 0xC0DE
};

/// What the tray callback message reports in its lParam: a mouse action on the icon or a balloon's fate.
/// The numbers are the shell's own.
enum class TTrayEvent : std::uint32_t
{
    MouseMove = 0x0200,
    LButtonDown = 0x0201,
    LButtonUp = 0x0202,
    LButtonDblClk = 0x0203,
    RButtonDown = 0x0204,
    RButtonUp = 0x0205,
    RButtonDblClk = 0x0206,
    MButtonDown = 0x0207,
    MButtonUp = 0x0208,
    BalloonShow = 0x0402,
    BalloonTimeout = 0x0404,
    BalloonUserClick = 0x0405
};

/// Bits of the notify record's uFlags.
enum TNotifyIconFlag : std::uint32_t
{
    nifMessage = 0x01,
    nifIcon = 0x02,
    nifTip = 0x04,
    nifInfo = 0x10
};

/// The three requests that the shell understands (their numbers are the shell's).
enum class TNotifyIconMessage
{
    nimAdd = 0,
    nimModify = 1,
    nimDelete = 2
};

/// The shell's notify record, in its wide-character layout: the same fields and character limits as the
/// ANSI record (tip 128, balloon text 256, balloon title 64, each with its terminating zero). It names no
/// window: the shell hands the icon's callback messages to the receiver registered with SetCallback.
struct TNotifyIconData
{
    std::uint32_t cbSize = 0;
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

/// Receives the callback messages of the icon in the tray: the record's uCallbackMessage, the icon's uID as
/// wParam and what happened (a TTrayEvent) as lParam.
using TTrayCallback = std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

/// Everything the tray icon asks of the desktop: the notification area itself and the few window calls
/// around it. The program's shell sits on QSystemTrayIcon; tests use a recording fake.
class TTrayShell
{
public:
    virtual ~TTrayShell() = default;

    /// Registers the one receiver of callback messages, replacing the previous one; an empty function stops
    /// them. Messages come only for an icon added with nifMessage, on the thread that runs the event loop.
    virtual void SetCallback(TTrayCallback callback) = 0;

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
    /// Whether the desktop has a tray to put the icon in now. Desktops without one exist, and a tray may
    /// start after the program or go away: callers ask again from time to time.
    virtual bool TrayAvailable() const = 0;
};
