#pragma once

#include "app/win/Win.h"

#include <functional>
#include <string>

/// The About window: the program's picture, a thank-you text, the maker's notice and two links. Modeless
/// and always on top; "OK" and the close button only hide it, so there is only ever the one window.
class TAboutBox
{
public:
    using TOpenUrl = std::function<void(const std::wstring&)>;

    /// Builds the window hidden. owner: the program's main window, which the shell's calls name; openUrl
    /// opens an address in the desktop's browser or mail program (unset: the shell does).
    TAboutBox(HINSTANCE instance, HWND owner, TOpenUrl openUrl = {});
    ~TAboutBox();
    TAboutBox(const TAboutBox&) = delete;
    TAboutBox& operator=(const TAboutBox&) = delete;

    HWND Handle() const { return FHandle; }
    /// Shows the window centred on the screen, or brings it to the front when it is shown already.
    void ShowAbout();

    void Label1Click();
    void Label2Click();
    void OKButtonClick();

    /// The addresses the two links open.
    static std::wstring WebUrl();
    static std::wstring MailUrl();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Receive(UINT message, WPARAM wParam, LPARAM lParam);
    HWND AddControl(const wchar_t* className, const std::wstring& text, DWORD style, int id, int x, int y,
                    int width, int height, HFONT font);
    void OpenUrl(const std::wstring& url);

    HWND FOwner;
    TOpenUrl FOpenUrl;
    HWND FHandle = nullptr;
    HICON FPicture = nullptr;
    HFONT FFont = nullptr;
    HFONT FLinkFont = nullptr;
    HCURSOR FHand = nullptr;
    HWND Panel1 = nullptr;
    HWND Memo1 = nullptr;
    HWND Copyright = nullptr;
    HWND Label1 = nullptr;
    HWND Label2 = nullptr;
    HWND OKButton = nullptr;
};
