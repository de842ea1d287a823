#include "app/win/Application.h"

#include <initializer_list>

// Tahoma is the dialog font of Windows; a system without it (Wine without its own fonts) gets a narrow
// sans serif, so that the captions fit their controls as they do with Tahoma.
HFONT DialogFont(int pixels, bool bold, bool underline)
{
    HFONT font = nullptr;
    for (const wchar_t* face : {L"Tahoma", L"DejaVu Sans Condensed", L"Arial"}) {
        if (font != nullptr)
            ::DeleteObject(font);
        font = ::CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, face);
        const HDC dc = ::GetDC(nullptr);
        const HGDIOBJ previous = ::SelectObject(dc, font);
        wchar_t chosen[LF_FACESIZE] = {};
        ::GetTextFaceW(dc, LF_FACESIZE, chosen);
        ::SelectObject(dc, previous);
        ::ReleaseDC(nullptr, dc);
        if (::lstrcmpiW(chosen, face) == 0)
            break;
    }
    return font;
}

bool TWinTrayWindow::Visible() const
{
    return FWindow != nullptr && ::IsWindowVisible(FWindow);
}

void TWinTrayWindow::ShowNormal()
{
    // Also a window that was minimised before it went to the tray comes back as it was.
    if (FWindow != nullptr)
        ::ShowWindow(FWindow, SW_SHOWNORMAL);
}

void TWinTrayWindow::Hide()
{
    if (FWindow != nullptr)
        ::ShowWindow(FWindow, SW_HIDE);
}

TTrayWindow* TWinApplication::MainWindow()
{
    FMainWindow.SetHandle(MainForm);
    return MainForm != nullptr ? &FMainWindow : nullptr;
}

void TWinApplication::HandleException(const std::exception& e) const
{
    if (OnException) {
        OnException(e);
        return;
    }
    ::MessageBoxW(MainForm, WideText(e.what()).c_str(), L"fotoimport", MB_OK | MB_ICONERROR);
}

TWinApplication& Application()
{
    static TWinApplication application;
    return application;
}
