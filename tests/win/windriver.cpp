// windriver: looks at and presses the controls of the running fotoimport from another process in the same
// Wine prefix, as an accessibility tool would. X11 sees Wine's top-level windows but not their controls.
//
//   windriver state            prints the main window's state, one "name=value" line each
//   windriver click CONTROL    presses a button of the main window (Button1, Button2, infoBtn)
//
// Exit status 0, or 1 when the program's window is not there or the control is unknown.

#include "app/win/Win.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The main window's class and its controls' numbers, as the program makes them.
constexpr const wchar_t* kFormClass = L"fotoimport.TForm1";
struct TControl
{
    const char* Name;
    int Id;
};
constexpr TControl kControls[] = {{"RadioButton1", 101}, {"RadioButton2", 102}, {"CheckBox1", 103},
                                  {"Label1", 104},       {"Button2", 106},      {"infoBtn", 107},
                                  {"Button1", 108},      {"StatusBar1", 109}};

std::string Text(HWND window)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return "?";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(copied);
    return Utf8Text(text);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const HWND form = ::FindWindowW(kFormClass, nullptr);
    if (form == nullptr) {
        std::fprintf(stderr, "windriver: the program's window is not there\n");
        return 1;
    }
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"state") {
        std::printf("Caption=%s\nVisible=%d\nIconic=%d\n", Text(form).c_str(),
                    ::IsWindowVisible(form) ? 1 : 0, ::IsIconic(form) ? 1 : 0);
        for (const TControl& control : kControls) {
            const HWND item = ::GetDlgItem(form, control.Id);
            DWORD_PTR checked = 0;
            ::SendMessageTimeoutW(item, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
            std::printf("%s=%s\n%s.Enabled=%d\n%s.Checked=%d\n", control.Name, Text(item).c_str(),
                        control.Name, ::IsWindowEnabled(item) ? 1 : 0, control.Name,
                        checked == BST_CHECKED ? 1 : 0);
        }
        return 0;
    }
    if (command == L"click" && argc > 2) {
        const std::string name = Utf8Text(argv[2]);
        for (const TControl& control : kControls) {
            if (name != control.Name)
                continue;
            DWORD_PTR result = 0;
            ::SendMessageTimeoutW(::GetDlgItem(form, control.Id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                  &result);
            return 0;
        }
    }
    std::fprintf(stderr, "usage: windriver state | windriver click CONTROL\n");
    return 1;
}
