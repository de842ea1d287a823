// Compiled with the MinGW compiler only (never part of a Linux target): the tray seam must compile where
// <windows.h> is included, before or after it (build once with and once without FI_TRAY_HEADERS_FIRST), and
// its numbers must be those of the Windows headers. The Windows headers define the shell's names as macros,
// which would rewrite any identifier spelt like them. <windows.h> brings the shell's declarations along.
#ifndef FI_TRAY_HEADERS_FIRST
#include <windows.h>
#endif

#include "tray/QtTrayShell.h"
#include "tray/TrayShell.h"
#include "tray/abfComponents.h"

#ifdef FI_TRAY_HEADERS_FIRST
#include <windows.h>
#endif

#include <cstdint>

namespace {

constexpr std::uint32_t Number(TWindowMessage message)
{
    return static_cast<std::uint32_t>(message);
}

constexpr std::uint32_t Number(TTrayEvent event)
{
    return static_cast<std::uint32_t>(event);
}

static_assert(Number(TWindowMessage::Null) == WM_NULL);
static_assert(Number(TWindowMessage::QueryEndSession) == WM_QUERYENDSESSION);
static_assert(Number(TWindowMessage::Timer) == WM_TIMER);
static_assert(Number(TWindowMessage::TrayCallback) == WM_USER + 211);
static_assert(Number(TWindowMessage::TaskbarCreated) >= 0xC000, "in the range of registered messages");

static_assert(Number(TTrayEvent::MouseMove) == WM_MOUSEMOVE);
static_assert(Number(TTrayEvent::LButtonDown) == WM_LBUTTONDOWN);
static_assert(Number(TTrayEvent::LButtonUp) == WM_LBUTTONUP);
static_assert(Number(TTrayEvent::LButtonDblClk) == WM_LBUTTONDBLCLK);
static_assert(Number(TTrayEvent::RButtonDown) == WM_RBUTTONDOWN);
static_assert(Number(TTrayEvent::RButtonUp) == WM_RBUTTONUP);
static_assert(Number(TTrayEvent::RButtonDblClk) == WM_RBUTTONDBLCLK);
static_assert(Number(TTrayEvent::MButtonDown) == WM_MBUTTONDOWN);
static_assert(Number(TTrayEvent::MButtonUp) == WM_MBUTTONUP);
static_assert(Number(TTrayEvent::BalloonShow) == NIN_BALLOONSHOW);
static_assert(Number(TTrayEvent::BalloonTimeout) == NIN_BALLOONTIMEOUT);
static_assert(Number(TTrayEvent::BalloonUserClick) == NIN_BALLOONUSERCLICK);

static_assert(nifMessage == NIF_MESSAGE && nifIcon == NIF_ICON && nifTip == NIF_TIP && nifInfo == NIF_INFO);
static_assert(static_cast<int>(TNotifyIconMessage::nimAdd) == NIM_ADD &&
              static_cast<int>(TNotifyIconMessage::nimModify) == NIM_MODIFY &&
              static_cast<int>(TNotifyIconMessage::nimDelete) == NIM_DELETE);
static_assert(static_cast<int>(TabfTrayIconInfoType::tiiNone) == NIIF_NONE &&
              static_cast<int>(TabfTrayIconInfoType::tiiInfo) == NIIF_INFO &&
              static_cast<int>(TabfTrayIconInfoType::tiiWarning) == NIIF_WARNING &&
              static_cast<int>(TabfTrayIconInfoType::tiiError) == NIIF_ERROR);

// The record's text fields hold as many characters as the shell's own.
static_assert(sizeof(TNotifyIconData{}.szTip) / sizeof(char16_t) ==
              sizeof(NOTIFYICONDATAW{}.szTip) / sizeof(WCHAR));
static_assert(sizeof(TNotifyIconData{}.szInfo) / sizeof(char16_t) ==
              sizeof(NOTIFYICONDATAW{}.szInfo) / sizeof(WCHAR));
static_assert(sizeof(TNotifyIconData{}.szInfoTitle) / sizeof(char16_t) ==
              sizeof(NOTIFYICONDATAW{}.szInfoTitle) / sizeof(WCHAR));

} // namespace
