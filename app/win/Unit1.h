#pragma once

#include "app/core/FrontEnd.h"
#include "app/core/WindowPolicy.h"
#include "app/core/WindowTexts.h"
#include "app/win/Application.h"
#include "app/win/Win.h"
#include "base/TaskQueue.h"
#include "platform/Platform.h"
#include "tray/abfComponents.h"

#include <memory>
#include <string>

class TAboutBox;
class TWinTrayShell;

/// The main window on Windows: standard controls at the window's fixed positions, the tray icon with its
/// menu, and the handlers of its controls, each a thin call into the window's policy in the core. It shows
/// what the core renders and carries out its commands. It starts hidden, with only the tray icon showing.
class TForm1 : private TFrontEnd
{
public:
    /// The window class, by which a second start of the program finds the running one.
    static constexpr const wchar_t* kClassName = L"fotoimport.TForm1";

    /// platform: the operating system the watcher works on; shell: the tray the icon lives in, icon: the
    /// program's icon there. The window owns platform and shell. Builds the window and its controls, starts
    /// Timer1, puts the icon in the tray and runs FormCreate.
    TForm1(HINSTANCE instance, std::unique_ptr<TPlatform> platform, std::unique_ptr<TWinTrayShell> shell,
           TIconHandle icon, TWinApplication& application = Application());
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return FHandle; }
    /// The About window that the info button shows; the window does not own it.
    void SetAboutBox(TAboutBox* aboutBox) { FAboutBox = aboutBox; }

    void FormCreate();
    void Timer1Timer();
    void abfTrayIconClick(TComponent* Sender);
    void ffnen1Click();
    void Fensterschliessen1Click();
    void Beenden1Click();
    void infoBtnClick();
    void Button1Click();
    void Button2Click();
    /// "Fotos anzeigen" and "Protokoll anzeigen" in the tray menu, and the clicks on the message and on
    /// the status bar, which show the same at the end of a run.
    void Fotosanzeigen1Click();
    void Protokollanzeigen1Click();
    void Label1Click();
    void StatusBar1Click();

    /// A second start of the program asks for the window.
    void ShowForm();
    /// A volume (a drive's root or a folder) the program was started with: the watcher looks at it at once
    /// and the window shows. During a transfer run the volume waits until the run has ended.
    void OpenVolume(const std::string& path);
    /// Asks the shell again whether there is a tray and follows a change.
    void CheckTray();
    /// Whether a message of the loop is input for a control that must take none now (a run goes on). The
    /// message loop drops such messages.
    bool DropsInput(const MSG& message) const;

    static constexpr UINT kTrayCheckInterval = 2000;
    static constexpr UINT kPollInterval = 250;

    TCameraWatcher& Watcher() { return FPolicy.Watcher(); }
    TabfTrayIcon& TrayIcon() { return abfTrayIcon; }

private:
    void Render(const TWindowState& state) override;
    void ShowWindow(bool activate) override;
    void HideWindow() override;
    void MinimizeWindow() override;
    TWindowShow WindowShow() const override;
    void Post(std::function<void()> task) override;
    bool OpenFolder(const std::string& path) override;
    bool OpenFile(const std::string& path) override;
    void Quit() override;
    void Exit() override;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Receive(UINT message, WPARAM wParam, LPARAM lParam);
    void BuildControls(HINSTANCE instance);
    void BuildTrayIcon(TIconHandle icon);
    HWND AddControl(const wchar_t* className, const std::string& text, DWORD style, int id, int x, int y,
                    int width, int height);
    void Command(int id);
    void Paint();
    void EndSession();
    void SetText(HWND control, std::string& shown, const std::string& text);
    void SetProgress(int max, int position);
    /// The message and the status bar as links to the photos and the log, as the state says.
    void RenderLinks(const TWindowState& state);

    TWinApplication& FApplication;
    std::unique_ptr<TPlatform> FPlatform;
    std::unique_ptr<TWinTrayShell> FShell;
    TAboutBox* FAboutBox = nullptr;
    HWND FHandle = nullptr;
    TTaskQueue FTasks;
    /// The program ends: the window is destroyed from within.
    bool FQuitting = false;
    /// A run goes on: the controls take no input.
    bool FBusy = false;
    bool FTicking = false;

    HICON FPicture = nullptr;
    HICON FInfoGlyph = nullptr;
    HFONT FFont = nullptr;
    HFONT FBoldFont = nullptr;
    HFONT FLabelFont = nullptr;
    /// The message's font while it is a link to the photos.
    HFONT FLinkFont = nullptr;
    bool FMessageLink = false;
    bool FStatusLink = false;
    HBRUSH FFace = nullptr;

    HWND RadioButton1 = nullptr;
    HWND RadioButton2 = nullptr;
    HWND CheckBox1 = nullptr;
    HWND Label1 = nullptr;
    HWND ProgressBar1 = nullptr;
    HWND Button2 = nullptr;
    HWND infoBtn = nullptr;
    HWND Button1 = nullptr;
    HWND StatusBar1 = nullptr;
    /// The texts shown now, so that an unchanged text is not drawn again at every step of a run.
    std::string FCaption;
    std::string FLabel1;
    std::string FPanel1;
    std::string FPanel2;
    std::string FTurnCaption;
    int FProgressMax = -1;
    int FProgressPosition = -1;

    TPopupMenu PopupMenu1;
    TMenuItem& ffnen1{PopupMenu1.Add(kTextOpenWindowItem)};
    TMenuItem& Fensterschliessen1{PopupMenu1.Add(kTextCloseWindowItem)};
    TMenuItem& Fotosanzeigen1{PopupMenu1.Add(kTextShowPhotosItem)};
    TMenuItem& Protokollanzeigen1{PopupMenu1.Add(kTextShowLogItem)};
    TMenuItem& Beenden1{PopupMenu1.Add(kTextQuitItem)};
    TWindowPolicy FPolicy;
    /// The window as the tray icon sees its owner.
    TWinTrayWindow FTrayWindow;
    TabfTrayIcon abfTrayIcon;
};
