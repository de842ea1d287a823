#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

/// An icon as the shell knows it: a handle the front end got from its shell (on Windows the HICON itself).
/// 0 is no icon.
using TIconHandle = std::uintptr_t;

/// The shell's notify record, in its wide-character layout: the same fields and character limits as the
/// ANSI record (tip 128, balloon text 256, balloon title 64, each with its terminating zero). It names no
/// window: the shell serves one hidden window of its own and hands its messages to the receiver registered
/// with SetCallback.
struct TNotifyIconData
{
    std::uint32_t cbSize = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    TIconHandle hIcon = 0;
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

/// UTF-8 text as UTF-16, and back. A byte that does not start or continue a valid UTF-8 sequence, and an
/// unpaired surrogate, become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
/// The longest start of text that takes at most maxChars UTF-16 characters, never ending inside a
/// character (a pair of surrogates or a UTF-8 sequence).
std::string CutToUtf16Length(std::string_view text, std::size_t maxChars);
/// Copies at most maxChars UTF-16 characters of the UTF-8 text into a field of size characters and ends it
/// with a zero; the rest of the field is zero.
void CopyFieldText(char16_t* field, std::size_t size, std::string_view text, std::size_t maxChars);

/// Text of a zero-terminated record field, as UTF-8.
template <std::size_t N> std::string FieldText(const std::array<char16_t, N>& field)
{
    std::size_t length = 0;
    while (length < N && field[length] != 0)
        ++length;
    return Utf16ToUtf8({field.data(), length});
}

/// Copies at most maxChars characters of the UTF-8 text into a record field and ends it with a zero.
template <std::size_t N>
void SetFieldText(std::array<char16_t, N>& field, std::string_view text, std::size_t maxChars)
{
    CopyFieldText(field.data(), N, text, maxChars);
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

/// A position on the screen, in pixels.
struct TPoint
{
    int X = 0;
    int Y = 0;
};

/// One line of a popup menu as the shell shows it.
struct TTrayMenuItem
{
    /// What TrackPopupMenu returns when the user chooses the line; never 0.
    std::uint32_t Command = 0;
    /// UTF-8.
    std::string Caption;
    bool Enabled = true;
    /// Shown as the menu's default line (in bold).
    bool Default = false;
};

/// Receives the messages of the shell's hidden window: the tray callback (the record's uCallbackMessage,
/// the icon's uID as wParam and what happened, a TTrayEvent, as lParam), the timer (its identifier as
/// wParam), QueryEndSession and TaskbarCreated. Returns the message's result.
using TTrayCallback =
    std::function<std::intptr_t(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

/// Everything the tray icon asks of the desktop: the notification area, a hidden window with a timer, a
/// popup menu, and the few calls on the window the shell serves (the program's main window). On Windows
/// each call is the shell's own: Shell_NotifyIconW, the hidden window's procedure, SetTimer and KillTimer,
/// TrackPopupMenu with TPM_RETURNCMD, SetForegroundWindow, PostMessage(WM_NULL). The program's shell on
/// Linux sits on QSystemTrayIcon; tests use a recording fake.
class TTrayShell
{
public:
    virtual ~TTrayShell() = default;

    /// Registers the one receiver of the hidden window's messages, replacing the previous one; an empty
    /// function stops them. Tray callbacks come only for an icon added with nifMessage; every message comes
    /// on the thread that runs the event loop.
    virtual void SetCallback(TTrayCallback callback) = 0;

    /// Sends an add, modify or delete request. False when the shell refuses it; callers never look.
    virtual bool NotifyIcon(TNotifyIconMessage message, const TNotifyIconData& data) = 0;
    /// Whether the shell takes the extended record (balloons, 128-character tips).
    virtual bool ExtendedNotifyData() const = 0;
    /// The mouse cursor in screen coordinates.
    virtual TPoint CursorPos() const = 0;
    /// Shift, Ctrl and Alt as far as they are held down now.
    virtual TShiftState KeyState() const = 0;
    /// Brings the served window to the front; a hidden window stays hidden.
    virtual void SetForegroundWindow() = 0;
    /// Posts the empty message to the served window, so that a menu it opened closes properly.
    virtual void PostNullMessage() = 0;
    /// Runs everything that waits in the event queue.
    virtual void ProcessMessages() = 0;
    /// Pops a menu of these lines up at a screen position and returns when it has closed: the Command of
    /// the chosen line, or 0 when none was chosen.
    virtual std::uint32_t TrackPopupMenu(const std::vector<TTrayMenuItem>& items, TPoint position) = 0;
    /// Starts timer id of the hidden window, or restarts it with the new interval (milliseconds); it sends
    /// TWindowMessage::Timer with the id as wParam until KillTimer. False when the system has no timer left.
    virtual bool SetTimer(std::uint32_t id, std::uint32_t interval) = 0;
    virtual void KillTimer(std::uint32_t id) = 0;
    /// Whether the desktop has a tray to put the icon in now. Desktops without one exist, and a tray may
    /// start after the program or go away: callers ask again from time to time.
    virtual bool TrayAvailable() const = 0;
};
