#include "app/ui/Unit1.h"

#include "about/infobox_unit.h"
#include "app/core/WindowTexts.h"
#include "app/ui/Guarded.h"
#include "app/ui/Pictures.h"
#include "app/ui/QtTrayShell.h"
#include "app/ui/WindowActivation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QHideEvent>
#include <QKeySequence>
#include <QList>
#include <QMetaObject>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

namespace {

constexpr int kClientWidth = 354;
constexpr int kClientHeight = 146;
constexpr int kTimerInterval = 1000;
const QColor kNavy(0, 0, 128);

/// The window's text font: the desktop's sans serif at the size the fixed layout was made for, set a little
/// narrower so the longest captions fit the control widths.
QFont BaseFont()
{
    QFont font("DejaVu Sans");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setStretch(87);
    return font;
}

void MakeNavy(QWidget& widget, bool bold, int pixelSize = 0)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, kNavy);
    palette.setColor(QPalette::ButtonText, kNavy);
    widget.setPalette(palette);
    QFont font = widget.font();
    font.setBold(bold);
    if (pixelSize > 0)
        font.setPixelSize(pixelSize);
    widget.setFont(font);
}

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A label that opens something when clicked looks like a link: underlined, with the pointing hand and a
/// hint that says what it opens.
void ShowAsLink(QLabel& label, bool link, const char* hint)
{
    QFont font = label.font();
    font.setUnderline(link);
    label.setFont(font);
    if (link)
        label.setCursor(Qt::PointingHandCursor);
    else
        label.unsetCursor();
    label.setToolTip(link ? QString::fromUtf8(hint) : QString());
}

/// A path of the file system (its bytes) as a file URL.
QUrl FileUrl(const std::string& path)
{
    return QUrl::fromLocalFile(
        QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))));
}

} // namespace

void TProgressBar::SetMax(int value)
{
    FMax = std::max(0, value);
    FPosition = std::min(FPosition, FMax);
    Show();
}

void TProgressBar::SetPosition(int value)
{
    FPosition = std::clamp(value, 0, FMax);
    Show();
}

void TProgressBar::Show()
{
    setRange(0, std::max(1, FMax));
    setValue(FPosition);
}

TForm1::TForm1(std::unique_ptr<TPlatform> platform, std::unique_ptr<TTrayShell> shell, TIconHandle icon,
               TApplicationHost& application)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , FApplication(application)
    , FPlatform(std::move(platform))
    , FShell(std::move(shell))
    , FPolicy(*FPlatform, *this)
    , abfTrayIcon(&FTrayWindow, *FShell, application)
{
    BuildControls();
    BuildLinks();
    Timer1.setInterval(kTimerInterval);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    Timer1.start();
    BuildTrayIcon(icon);
    FormCreate();

    // Not every desktop has a tray, and a tray may come (or go) after the program has started: the
    // question is asked again now and then.
    FTrayCheck.setInterval(kTrayCheckInterval);
    connect(&FTrayCheck, &QTimer::timeout, this, [this] { CheckTray(); });
    FTrayCheck.start();

    // The end of the session or a shutdown ends the program as "Beenden" does, a run in progress
    // included (its painting lets this timer run), instead of cutting it off in the middle of a photo.
    FPlatform->CatchEndRequests();
    FEndCheck.setInterval(kEndCheckInterval);
    connect(&FEndCheck, &QTimer::timeout, this, [this] {
        if (FPlatform->EndRequested())
            Beenden1Click();
        Guarded(FApplication, [this] { FPolicy.Poll(); });
    });
    FEndCheck.start();
}

TForm1::~TForm1() = default;

void TForm1::SetAboutBox(TAboutBox* aboutBox)
{
    FAboutBox = aboutBox;
}

void TForm1::BuildControls()
{
    setObjectName("Form1");
    setWindowTitle(kTextWaitForCamera);
    setWindowIcon(ProgramIcon());
    setFixedSize(kClientWidth, kClientHeight);
    setFont(BaseFont());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area(QPoint(0, 0), size());
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }

    Image1.setObjectName("Image1");
    Image1.setGeometry(8, 16, 100, 100);
    Image1.setPixmap(ProgramPicture());
    Image1.setAttribute(Qt::WA_TranslucentBackground);

    RadioButton1.setObjectName("RadioButton1");
    RadioButton1.setGeometry(112, 8, 113, 17);
    RadioButton1.setText(kTextCopyPhotos);
    RadioButton1.setChecked(true);
    MakeNavy(RadioButton1, true);

    RadioButton2.setObjectName("RadioButton2");
    RadioButton2.setGeometry(112, 24, 241, 17);
    RadioButton2.setText(kTextMovePhotos);
    MakeNavy(RadioButton2, true);

    CheckBox1.setObjectName("CheckBox1");
    CheckBox1.setGeometry(112, 40, 241, 17);
    CheckBox1.setText(kTextTurnIfPossible);
    CheckBox1.setChecked(true);
    MakeNavy(CheckBox1, true);

    Label1.setObjectName("Label1");
    // As wide as the progress bar below it, over which it stands centred: the longer texts of the end of a
    // run ("Übertragung mit Fehlern beendet") need more than the 182 pixels the layout first gave it.
    Label1.setGeometry(112, 64, 233, 16);
    Label1.setAlignment(Qt::AlignCenter);
    Label1.setText(kTextNoDevice);
    MakeNavy(Label1, true, 13);

    ProgressBar1.setObjectName("ProgressBar1");
    ProgressBar1.setGeometry(112, 82, 233, 10);
    ProgressBar1.setTextVisible(false);
    ProgressBar1.SetMax(100);
    ProgressBar1.SetPosition(0);

    Button2.setObjectName("Button2");
    Button2.setGeometry(112, 96, 100, 25);
    Button2.setText(kTextCopyPhotos);
    Button2.setEnabled(false);
    connect(&Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    infoBtn.setObjectName("infoBtn");
    infoBtn.setGeometry(216, 96, 27, 25);
    infoBtn.setIcon(QIcon(InfoGlyph()));
    infoBtn.setIconSize(QSize(16, 16));
    connect(&infoBtn, &QPushButton::clicked, this, [this] { infoBtnClick(); });

    Button1.setObjectName("Button1");
    Button1.setGeometry(248, 96, 100, 25);
    Button1.setText(kTextCloseWindowButton);
    connect(&Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    StatusBar1.setObjectName("StatusBar1");
    StatusBar1.setGeometry(0, 127, kClientWidth, 19);
    StatusBar1.setSizeGripEnabled(false);
    StatusPanel1.setObjectName("StatusPanel1");
    StatusPanel2.setObjectName("StatusPanel2");
    // The last panel reaches to the window's right edge, as status bars do,
    // so that "n Fotos gedreht" is not cut off at its design width of 50.
    StatusPanel1.setFixedWidth(150);
    StatusPanel2.setMinimumWidth(50);
    for (QLabel* panel : {&StatusPanel1, &StatusPanel2}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusBar1.addWidget(panel, panel == &StatusPanel2 ? 1 : 0);
    }

    PopupMenu1.SetName("PopupMenu1");
    ffnen1.SetName("ffnen1");
    Fensterschliessen1.SetName("Fensterschliessen1");
    Beenden1.SetName("Beenden1");
    for (QWidget* control : InputControls())
        control->installEventFilter(this);
    // Without a tray the window is the program's only handle: it ends the program as the tray menu's
    // "Beenden" does, by the desktops' key for it and from its own context menu.
    QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (!quitKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Q)))
        quitKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    FQuitAction.setObjectName("QuitAction");
    FQuitAction.setShortcuts(quitKeys);
    FQuitAction.setShortcutContext(Qt::WindowShortcut);
    addAction(&FQuitAction);
    connect(&FQuitAction, &QAction::triggered, this, [this] { Beenden1Click(); });
    FNotifier.OnChosen = [this](const QByteArray& token) { ShowForm(token); };
    QCoreApplication::instance()->installEventFilter(this);
    ffnen1.OnClick = [this](TComponent*) { ffnen1Click(); };
    Fensterschliessen1.OnClick = [this](TComponent*) { Fensterschliessen1Click(); };
    Beenden1.OnClick = [this](TComponent*) { Beenden1Click(); };
}

void TForm1::BuildLinks()
{
    Fotosanzeigen1.SetName("Fotosanzeigen1");
    Protokollanzeigen1.SetName("Protokollanzeigen1");
    Fotosanzeigen1.SetEnabled(false);
    Protokollanzeigen1.SetEnabled(false);
    Fotosanzeigen1.OnClick = [this](TComponent*) { Fotosanzeigen1Click(); };
    Protokollanzeigen1.OnClick = [this](TComponent*) { Protokollanzeigen1Click(); };
    Label1.OnClick = [this] { Label1Click(); };
    StatusPanel1.OnClick = [this] { StatusBar1Click(); };
    StatusPanel2.OnClick = [this] { StatusBar1Click(); };
}

void TForm1::BuildTrayIcon(TIconHandle icon)
{
    // The same order as a form loads its tray icon: the hint reaches the shell with the first add.
    abfTrayIcon.SetName("abfTrayIcon");
    abfTrayIcon.SetHint(kTextWaitForCameraDesign);
    abfTrayIcon.LoadFormIcon(icon);
    abfTrayIcon.SetMinimizeToTray(true);
    abfTrayIcon.SetMinimizeOnStart(true);
    abfTrayIcon.SetPopupMenu(&PopupMenu1);
    abfTrayIcon.SetVisible(true);
    abfTrayIcon.OnClick = [this](TComponent* sender) { abfTrayIconClick(sender); };
    abfTrayIcon.Loaded();
    // The D-Bus tray's hosts show the item's menu themselves: the program's shell exports the menu's lines
    // to them, and a line chosen there runs as if chosen in the component's popup.
    if (auto* shell = dynamic_cast<TQtTrayShell*>(FShell.get())) {
        FExportShell = shell;
        shell->OnMenuCommand = [this](std::uint32_t command) { PopupMenu1.DispatchCommand(command); };
    }
    ExportTrayMenu();
}

void TForm1::ExportTrayMenu()
{
    if (FExportShell != nullptr)
        FExportShell->ExportMenu(PopupMenu1.ShellItems());
}

void TForm1::FormCreate()
{
    Guarded(FApplication, [this] {
        const bool trayAvailable = FShell->TrayAvailable();
        abfTrayIcon.SetMinimizeToTray(trayAvailable);
        FPolicy.Start(trayAvailable);
        UpdateQuitAction();
    });
}

void TForm1::Timer1Timer()
{
    FInTick = true;
    Guarded(FApplication, [this] { FPolicy.Tick(); });
    FInTick = false;
}

void TForm1::abfTrayIconClick(TComponent*)
{
    Guarded(FApplication, [this] { FPolicy.OpenWindow(); });
}

void TForm1::ffnen1Click()
{
    Guarded(FApplication, [this] { FPolicy.OpenWindow(); });
}

void TForm1::Fensterschliessen1Click()
{
    Guarded(FApplication, [this] { FPolicy.CloseWindow(); });
}

void TForm1::Beenden1Click()
{
    Guarded(FApplication, [this] { EndProgram(); });
}

void TForm1::EndProgram()
{
    if (FPolicy.Ending())
        return;
    FPolicy.EndRequested();
    // A run held by a device is cut off when its patience is used up, not up to an end check later: the
    // end of a session waits only a few seconds for a program.
    QTimer::singleShot(TWindowPolicy::kStopPatience + std::chrono::milliseconds(5), Qt::PreciseTimer, this,
                       [this] { Guarded(FApplication, [this] { FPolicy.Poll(); }); });
}

void TForm1::infoBtnClick()
{
    Guarded(FApplication, [this] {
        if (FAboutBox != nullptr)
            FAboutBox->ShowAbout();
    });
}

void TForm1::Button1Click()
{
    Guarded(FApplication, [this] { FPolicy.Dismiss(); });
}

void TForm1::Button2Click()
{
    Guarded(FApplication, [this] { FPolicy.Transfer({RadioButton2.isChecked(), CheckBox1.isChecked()}); });
}

void TForm1::Fotosanzeigen1Click()
{
    Guarded(FApplication, [this] { FPolicy.ShowPhotos(); });
}

void TForm1::Protokollanzeigen1Click()
{
    Guarded(FApplication, [this] { FPolicy.ShowLog(); });
}

void TForm1::Label1Click()
{
    Guarded(FApplication, [this] { FPolicy.MessageClicked(); });
}

void TForm1::StatusBar1Click()
{
    Guarded(FApplication, [this] { FPolicy.StatusClicked(); });
}

void TForm1::SetOpenUrl(std::function<bool(const QUrl&)> openUrl)
{
    FOpenUrl = std::move(openUrl);
}

void TForm1::ShowForm(const QByteArray& activationToken)
{
    FGivenToken = activationToken;
    Guarded(FApplication, [this] { FPolicy.OpenWindow(); });
    FGivenToken.clear();
}

void TForm1::OpenVolume(const QString& path)
{
    Guarded(FApplication, [&] { FPolicy.OfferVolume(QFile::encodeName(path).toStdString()); });
}

void TForm1::CheckTray()
{
    Guarded(FApplication, [this] {
        const bool available = FShell->TrayAvailable();
        abfTrayIcon.SetMinimizeToTray(available);
        FPolicy.TrayChanged(available);
        UpdateQuitAction();
    });
}

void TForm1::UpdateQuitAction()
{
    const bool offered = !FPolicy.TrayAvailable() && Beenden1.Enabled();
    FQuitAction.setEnabled(offered);
    setContextMenuPolicy(FPolicy.TrayAvailable() ? Qt::DefaultContextMenu : Qt::ActionsContextMenu);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Only the program's end closes the window for good: "Beenden" (the policy's Quit) and the
    // application asked to quit (the end of the session), which closes every window. Any other close is
    // the desktop's: the window manager's on X11, and on Wayland the compositor's, which Qt's Wayland
    // plugin hands on as a close from within the program.
    if (!FQuitting && !FApplicationQuits) {
        event->ignore();
        Guarded(FApplication, [this] { FPolicy.CloseWindow(); });
        return;
    }
    event->accept();
    // The application was asked to quit: the program ends, after the photos in hand when a run goes on.
    if (!FQuitting)
        Guarded(FApplication, [this] { EndProgram(); });
}

void TForm1::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (FRemapping)
        return;
    Guarded(FApplication, [this] { FPolicy.WindowHidden(); });
}

void TForm1::changeEvent(QEvent* event)
{
    // Minimising the window minimises the application: the tray icon takes it into the tray.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        !(static_cast<const QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized))
        abfTrayIcon.ApplicationMinimized();
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // Brought back from the task list by the desktop, the window keeps, under X11, the hint that it starts
    // minimised; the desktop would honour it the next time the hidden window is shown.
    const auto* change = static_cast<const QWindowStateChangeEvent*>(event);
    if (event->spontaneous() && (change->oldState() & Qt::WindowMinimized) && !isMinimized())
        FStaleStartState = true;
    if (isMinimized())
        Guarded(FApplication, [this] { FPolicy.WindowMinimised(); });
}

bool TForm1::event(QEvent* event)
{
    // Active again: whatever minimised the window, the desktop has brought it back.
    if (event->type() == QEvent::WindowActivate)
        FMinimisedHere = false;
    return QWidget::event(event);
}

void TForm1::Render(const TWindowState& state)
{
    setWindowTitle(FromUtf8(state.Caption));
    abfTrayIcon.SetHint(state.TrayHint);
    Label1.setText(FromUtf8(state.Message));
    StatusPanel1.setText(FromUtf8(state.Panel1));
    StatusPanel2.setText(FromUtf8(state.Panel2));
    ProgressBar1.SetMax(state.ProgressMax);
    ProgressBar1.SetPosition(state.ProgressPosition);
    Button2.setEnabled(state.TransferEnabled);
    CheckBox1.setText(FromUtf8(state.TurnCaption));
    CheckBox1.setEnabled(state.TurnEnabled);
    Beenden1.SetEnabled(state.QuitEnabled);
    RenderLinks(state);
    UpdateQuitAction();
    ExportTrayMenu();
    FBusy = state.Busy;
    // Starting a running timer again would break its rhythm.
    if (!state.Ticking)
        Timer1.stop();
    else if (!Timer1.isActive())
        Timer1.start();
}

void TForm1::RenderLinks(const TWindowState& state)
{
    Fotosanzeigen1.SetEnabled(state.PhotosToShow);
    Protokollanzeigen1.SetEnabled(state.LogToShow);
    ShowAsLink(Label1, state.MessageShowsPhotos, kTextShowPhotosItem);
    for (TClickLabel* panel : {&StatusPanel1, &StatusPanel2})
        ShowAsLink(*panel, state.StatusShowsLog, kTextShowLogItem);
}

bool TForm1::OpenFolder(const std::string& path)
{
    const QUrl url = FileUrl(path);
    return FOpenUrl ? FOpenUrl(url) : QDesktopServices::openUrl(url);
}

bool TForm1::OpenFile(const std::string& path)
{
    // The desktop picks the program for the file's type: a text editor for the log.
    const QUrl url = FileUrl(path);
    return FOpenUrl ? FOpenUrl(url) : QDesktopServices::openUrl(url);
}

void TForm1::ShowWindow(bool activate)
{
    const QByteArray token = std::exchange(FGivenToken, {});
    const bool forCard = FInTick && !activate;
    // A Wayland client cannot take its window out of minimised, and the compositor does not tell it that
    // the window is: one the program minimised comes back shown anew, unless a token lets the compositor
    // bring it back itself.
    if (OnWayland() && FMinimisedHere && token.isEmpty() && isVisible()) {
        FRemapping = true;
        hide();
        FRemapping = false;
    }
    FMinimisedHere = FMinimisedHere && !token.isEmpty();
    // A window minimised before it went to the tray comes back in its normal state.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) {
        if (FStaleStartState) {
            // A new native window starts in the state the window has now.
            FStaleStartState = false;
            destroy();
        }
        setAttribute(Qt::WA_ShowWithoutActivating, !activate);
        show();
    }
    raise();
    if (activate)
        activateWindow();
    if (!token.isEmpty()) {
        FPendingToken = token;
        ActivateWhenExposed();
    }
    // A card's window that the desktop left behind the active one asks for attention, and a notification
    // tells of the card; choosing it brings the window forward.
    if (forCard && OnWayland())
        QTimer::singleShot(kForwardCheckDelay, this, [this] {
            if (isVisible() && !isActiveWindow())
                TellOfCard();
        });
}

bool TForm1::OnWayland()
{
    return QGuiApplication::platformName().startsWith("wayland");
}

void TForm1::ActivateWhenExposed()
{
    // The compositor activates only a window it shows: a window shown just now waits for its first frame.
    QWindow* window = windowHandle();
    if (window == nullptr || FPendingToken.isEmpty())
        return;
    window->removeEventFilter(this);
    // A window the program minimised gets no frame until the compositor brings it back, which the token
    // asks for: only a window shown just now waits.
    if (!window->isExposed() && !FMinimisedHere) {
        window->installEventFilter(this);
        return;
    }
    const QByteArray token = std::exchange(FPendingToken, {});
    // After the frame in hand has reached the compositor.
    QMetaObject::invokeMethod(
        this,
        [this, token] {
            if (windowHandle() != nullptr && isVisible())
                ActivateWithToken(*windowHandle(), token);
        },
        Qt::QueuedConnection);
}

void TForm1::TellOfCard()
{
    QApplication::alert(this);
    const int photos = FPolicy.Watcher().PhotoList().Count();
    FNotifier.Notify(QString::fromUtf8(kTextCameraFound),
                     photos > 0 ? QString::number(photos) + QString::fromUtf8(kTextPhotosFound) : QString());
}

void TForm1::HideWindow()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
}

void TForm1::MinimizeWindow()
{
    FMinimisedHere = OnWayland();
    showMinimized();
}

TWindowShow TForm1::WindowShow() const
{
    if (!isVisible())
        return TWindowShow::Hidden;
    return isMinimized() ? TWindowShow::Minimised : TWindowShow::Shown;
}

void TForm1::Post(std::function<void()> task)
{
    // Queued to the window's thread; dropped with the window if it has gone.
    QMetaObject::invokeMethod(
        this, [this, task = std::move(task)] { Guarded(FApplication, task); }, Qt::QueuedConnection);
}

void TForm1::Exit()
{
    // Work that waits for a device cannot be waited for: the icon leaves the tray, and the process ends
    // without tearing down what that work still uses.
    Guarded(FApplication, [this] { abfTrayIcon.SetVisible(false); });
    hide();
    std::fflush(nullptr);
    std::_Exit(0);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    // The application closes its windows when it is asked to quit, before the event loop ends.
    if (watched == QCoreApplication::instance()) {
        if (event->type() == QEvent::Quit)
            FApplicationQuits = true;
        return false;
    }
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        ActivateWhenExposed();
        return QWidget::eventFilter(watched, event);
    }
    // The filter also sees every event of the application (for its end): only the window's controls are
    // held during a run, never the tray icon or its menu, whose "Beenden" ends the run.
    const auto controls = InputControls();
    if (!FBusy || std::find(controls.begin(), controls.end(), watched) == controls.end())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

std::array<QWidget*, 6> TForm1::InputControls()
{
    return {&RadioButton1, &RadioButton2, &CheckBox1, &Button2, &infoBtn, &Button1};
}

void TForm1::Quit()
{
    FQuitting = true;
    close();
    QCoreApplication::quit();
}
