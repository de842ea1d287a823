// Built for Windows only. <windows.h> comes first, as it will in the Windows shell's source, and brings the
// widest set of its macros (shellapi.h included). A name of the tray headers that it defines as a macro
// breaks this build: a compile error, or a link error where a function is renamed here and not in the
// library, instead of one program holding two spellings of a name.
#define NOMINMAX
#include <windows.h>
// The tray headers after it.
#include "tests/tray/FakeTrayShell.h"
#include "tray/abfComponents.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>

namespace {

/// Whether a number of the tray headers is the Windows headers' own.
template <class T> constexpr bool Same(T ours, unsigned long theirs)
{
    return static_cast<unsigned long>(ours) == theirs;
}
static_assert(Same(TWindowMessage::Null, WM_NULL) &&
              Same(TWindowMessage::QueryEndSession, WM_QUERYENDSESSION) &&
              Same(TWindowMessage::Timer, WM_TIMER) && Same(TWindowMessage::TrayCallback, WM_USER + 211));
static_assert(Same(TTrayEvent::MouseMove, WM_MOUSEMOVE) && Same(TTrayEvent::LButtonDown, WM_LBUTTONDOWN) &&
              Same(TTrayEvent::LButtonUp, WM_LBUTTONUP) &&
              Same(TTrayEvent::LButtonDblClk, WM_LBUTTONDBLCLK) &&
              Same(TTrayEvent::RButtonDown, WM_RBUTTONDOWN) && Same(TTrayEvent::RButtonUp, WM_RBUTTONUP) &&
              Same(TTrayEvent::RButtonDblClk, WM_RBUTTONDBLCLK) &&
              Same(TTrayEvent::MButtonDown, WM_MBUTTONDOWN) && Same(TTrayEvent::MButtonUp, WM_MBUTTONUP) &&
              Same(TTrayEvent::BalloonShow, NIN_BALLOONSHOW) &&
              Same(TTrayEvent::BalloonTimeout, NIN_BALLOONTIMEOUT) &&
              Same(TTrayEvent::BalloonUserClick, NIN_BALLOONUSERCLICK));
static_assert(Same(nifMessage, NIF_MESSAGE) && Same(nifIcon, NIF_ICON) && Same(nifTip, NIF_TIP) &&
              Same(nifInfo, NIF_INFO) && Same(TNotifyIconMessage::nimAdd, NIM_ADD) &&
              Same(TNotifyIconMessage::nimModify, NIM_MODIFY) &&
              Same(TNotifyIconMessage::nimDelete, NIM_DELETE));
static_assert(Same(TabfTrayIconInfoType::tiiNone, NIIF_NONE) &&
              Same(TabfTrayIconInfoType::tiiInfo, NIIF_INFO) &&
              Same(TabfTrayIconInfoType::tiiWarning, NIIF_WARNING) &&
              Same(TabfTrayIconInfoType::tiiError, NIIF_ERROR));
static_assert(static_cast<std::uint32_t>(TWindowMessage::TaskbarCreated) >= 0xC000, "a registered message");

// What the shell's calls carry fits the seam's types unchanged: window procedure arguments and result,
// icon handles, the cursor, the menu's command numbers.
static_assert(sizeof(std::uintptr_t) == sizeof(WPARAM) && sizeof(std::intptr_t) == sizeof(LPARAM) &&
              sizeof(std::intptr_t) == sizeof(LRESULT));
static_assert(sizeof(TIconHandle) >= sizeof(HICON));
static_assert(sizeof(TPoint) == sizeof(POINT) && sizeof(TPoint{}.X) == sizeof(POINT{}.x));
static_assert(sizeof(TTrayMenuItem{}.Command) <= sizeof(UINT_PTR));
// The record's text fields hold as many characters as the shell's own, in characters of the same size.
static_assert(sizeof(char16_t) == sizeof(WCHAR) &&
              sizeof(TNotifyIconData{}.szTip) == sizeof(NOTIFYICONDATAW{}.szTip) &&
              sizeof(TNotifyIconData{}.szInfo) == sizeof(NOTIFYICONDATAW{}.szInfo) &&
              sizeof(TNotifyIconData{}.szInfoTitle) == sizeof(NOTIFYICONDATAW{}.szInfoTitle));

// The component set up from here as the Windows front end will set it up: every call crosses into the
// library built without <windows.h>, and the record goes into the shell's wide record as it is.
TEST(TabfTrayIcon, SetUpBesideTheWindowsHeadersItFillsTheShellsWideRecord)
{
    TFakeTrayShell shell;
    TFakeTrayApplication application;
    TFakeTrayWindow window;
    TPopupMenu menu;
    int quits = 0;
    menu.Add("Beenden", [&](TComponent*) { ++quits; }).SetDefault(true);
    TImageList images;
    images.Add(7);
    TabfTrayIcon tray(&window, shell, application);
    tray.SetHint("Übertragung beendet");
    tray.SetImageList(&images);
    tray.SetPopupMenu(&menu);
    tray.SetVisible(true);
    tray.ApplicationMinimized();
    shell.Send(TTrayEvent::LButtonDblClk);
    EXPECT_EQ(quits, 1);

    NOTIFYICONDATAW native{};
    native.hIcon = reinterpret_cast<HICON>(shell.Last().Data.hIcon);
    std::memcpy(native.szTip, shell.Last().Data.szTip.data(), sizeof(native.szTip));
    EXPECT_EQ(native.hIcon, reinterpret_cast<HICON>(7));
    EXPECT_EQ(std::wcscmp(native.szTip, L"Übertragung beendet"), 0);
}

} // namespace
