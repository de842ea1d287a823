#pragma once

#include "about/infobox_unit.h"
#include "app/core/FrontEnd.h"
#include "app/core/WindowPolicy.h"
#include "app/core/WindowTexts.h"
#include "app/ui/Application.h"
#include "app/ui/DesktopNotifier.h"
#include "platform/Platform.h"
#include "tray/TrayShell.h"
#include "tray/abfComponents.h"

#include <QAction>
#include <QByteArray>
#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class TAboutBox;
class TQtTrayShell;

/// A progress bar that keeps the maximum it was given. A maximum of 0 (a card without photos) shows an empty
/// bar instead of Qt's busy animation, which would tell the user that something is going on.
class TProgressBar : public QProgressBar
{
public:
    using QProgressBar::QProgressBar;

    int Max() const { return FMax; }
    void SetMax(int value);
    int Position() const { return FPosition; }
    /// Kept within 0 and the maximum.
    void SetPosition(int value);

private:
    void Show();

    int FMax = 100;
    int FPosition = 0;
};

/// The main window: the controls the user sees when a card is attached, the tray icon with its menu, and the
/// handlers of its controls, each a thin call into the window's policy in the core. It shows what the core
/// renders and carries out its commands. It starts hidden, with only the tray icon showing.
class TForm1 : public QWidget, private TFrontEnd
{
public:
    /// platform: the operating system the watcher works on; shell: the tray the icon lives in, icon: the
    /// program's icon there. The window owns platform and shell. Builds every control, starts Timer1, puts
    /// the icon in the tray and runs FormCreate.
    TForm1(std::unique_ptr<TPlatform> platform, std::unique_ptr<TTrayShell> shell, TIconHandle icon,
           TApplicationHost& application = Application());
    ~TForm1() override;

    /// The About window that the info button shows; the window does not own it.
    void SetAboutBox(TAboutBox* aboutBox);

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
    /// the status bar's panels, which show the same at the end of a run.
    void Fotosanzeigen1Click();
    void Protokollanzeigen1Click();
    void Label1Click();
    void StatusBar1Click();
    /// How folders and files are opened on the desktop; by default QDesktopServices. Returns whether the
    /// desktop took it.
    void SetOpenUrl(std::function<bool(const QUrl&)> openUrl);

    /// A second start of the program asks for the window; activationToken: the token the desktop gave that
    /// start (empty when it had none), with which the window is brought forward on Wayland.
    void ShowForm(const QByteArray& activationToken = {});
    /// A volume (a mounted card's folder) the program was started with: the watcher looks at it at once and
    /// the window shows. During a transfer run the volume waits until the run has ended.
    void OpenVolume(const QString& path);
    /// Asks the tray shell again whether there is a tray and follows a change: without one the window is
    /// minimised where it would be hidden; once one is there, what was minimised in its place goes there.
    void CheckTray();
    /// Whether the last look found a tray.
    bool TrayAvailable() const { return FPolicy.TrayAvailable(); }
    /// How often the presence of a tray is asked again, in milliseconds.
    static constexpr int kTrayCheckInterval = 2000;
    /// How often the program looks whether it was asked from outside to end, and whether a run it asked to
    /// stop has stopped (ms).
    static constexpr int kEndCheckInterval = 100;

    TCameraWatcher& Watcher() { return FPolicy.Watcher(); }
    TabfTrayIcon& TrayIcon() { return abfTrayIcon; }
    TPopupMenu& PopupMenu() { return PopupMenu1; }
    /// "Beenden" of the window itself (Ctrl+Q and the window's context menu): there only while there is
    /// no tray, whose menu has it otherwise.
    QAction& QuitAction() { return FQuitAction; }
    /// Where a card's window may not come forward by itself (Wayland), the notification that tells of it.
    TDesktopNotifier& Notifier() { return FNotifier; }
    /// How long after a card's window was shown it is looked at whether the desktop brought it forward
    /// (ms); where it did not, the window asks for attention and the desktop notification shows.
    static constexpr int kForwardCheckDelay = 700;
    QTimer& Timer() { return Timer1; }
    TProgressBar& ProgressBar() { return ProgressBar1; }
    /// The photo list (the invisible list box ListBox1).
    const TStringList& ListBox1() const { return FPolicy.Watcher().PhotoList(); }
    /// Shows a window state as the core renders it.
    void Render(const TWindowState& state) override;

protected:
    /// The desktop's close (the window manager's or compositor's close button, Alt+F4) hides the window as
    /// "Fenster schliessen" does; only "Beenden" and the application asked to quit (the end of the
    /// session) end the program.
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void ShowWindow(bool activate) override;
    void HideWindow() override;
    void MinimizeWindow() override;
    TWindowShow WindowShow() const override;
    void Post(std::function<void()> task) override;
    bool OpenFolder(const std::string& path) override;
    bool OpenFile(const std::string& path) override;
    void Quit() override;
    void Exit() override;
    /// While a run goes on, the controls take no input: clicks and keys for them are dropped. Also waits for
    /// the native window to be shown, to activate it with a token.
    bool eventFilter(QObject* watched, QEvent* event) override;
    /// Whether the window lives on a Wayland desktop, where it may not bring itself forward.
    static bool OnWayland();
    /// Activates the window with FPendingToken once its native window shows.
    void ActivateWhenExposed();
    /// A card's window did not come forward: it asks for attention and a notification tells of the card.
    void TellOfCard();
    /// Offers "Beenden" in the window while there is no tray.
    void UpdateQuitAction();
    /// Hands the tray menu's lines, as they are now, to the shell that exports them to the D-Bus tray.
    void ExportTrayMenu();

    /// The controls that take no input during a run.
    std::array<QWidget*, 6> InputControls();
    void BuildControls();
    void BuildTrayIcon(TIconHandle icon);
    /// The menu items and the links of the end of a run, as the state says.
    void BuildLinks();
    void RenderLinks(const TWindowState& state);
    /// "Beenden" or the end of the session: the policy ends the program, and a run that does not stop is cut
    /// off as soon as its patience is used up.
    void EndProgram();

    TApplicationHost& FApplication;
    std::unique_ptr<TPlatform> FPlatform;
    std::unique_ptr<TTrayShell> FShell;
    /// FShell where it is the program's Qt shell, which exports the tray menu; else null.
    TQtTrayShell* FExportShell = nullptr;
    QPointer<TAboutBox> FAboutBox;
    std::function<bool(const QUrl&)> FOpenUrl;
    /// The program ends: the window closes from within.
    bool FQuitting = false;
    /// The application was asked to quit and closes its windows.
    bool FApplicationQuits = false;
    /// The desktop brought the window back from minimised; its native window still says it starts minimised.
    bool FStaleStartState = false;
    /// A run goes on: the controls take no input.
    bool FBusy = false;
    /// The watcher's tick runs: a window it shows is shown for a card.
    bool FInTick = false;
    /// On Wayland the window was minimised by the program and has not been active since; the program
    /// cannot take it out of minimised but by showing it anew.
    bool FMinimisedHere = false;
    /// The window is hidden to be shown anew: the policy does not hear of it.
    bool FRemapping = false;
    /// The activation token of the request being carried out (a second start, a notification chosen).
    QByteArray FGivenToken;
    /// The token to activate the window with once its native window shows.
    QByteArray FPendingToken;

    QLabel Image1{this};
    QRadioButton RadioButton1{this};
    QRadioButton RadioButton2{this};
    QCheckBox CheckBox1{this};
    TClickLabel Label1{this};
    TProgressBar ProgressBar1{this};
    QPushButton Button2{this};
    QPushButton infoBtn{this};
    QPushButton Button1{this};
    QStatusBar StatusBar1{this};
    TClickLabel StatusPanel1;
    TClickLabel StatusPanel2;
    QTimer Timer1;
    QTimer FTrayCheck;
    QTimer FEndCheck;
    TPopupMenu PopupMenu1;
    TMenuItem& ffnen1{PopupMenu1.Add(kTextOpenWindowItem)};
    TMenuItem& Fensterschliessen1{PopupMenu1.Add(kTextCloseWindowItem)};
    TMenuItem& Fotosanzeigen1{PopupMenu1.Add(kTextShowPhotosItem)};
    TMenuItem& Protokollanzeigen1{PopupMenu1.Add(kTextShowLogItem)};
    TMenuItem& Beenden1{PopupMenu1.Add(kTextQuitItem)};
    QAction FQuitAction{QString::fromUtf8(kTextQuitItem), this};
    TDesktopNotifier FNotifier;
    TWindowPolicy FPolicy;
    /// The window as the tray icon sees its owner.
    TQtTrayWindow FTrayWindow{this};
    TabfTrayIcon abfTrayIcon;
};
