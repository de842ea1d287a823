#pragma once

// The Win32 front end's one way into <windows.h>, and its text conversions: the core speaks UTF-8, the
// window system UTF-16 (wchar_t is 16 bits on Windows).

#include "tray/TrayShell.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <string>
#include <string_view>
#include <windows.h>

/// UTF-8 text as UTF-16; a broken sequence becomes U+FFFD.
inline std::wstring WideText(std::string_view text)
{
    const std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

/// UTF-16 text as UTF-8; an unpaired surrogate becomes U+FFFD.
inline std::string Utf8Text(std::wstring_view text)
{
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}
