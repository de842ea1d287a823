#include "tests/tray/FakeTrayShell.h"
#include "tray/abfComponents.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

/// A main window that owns a tray icon over the fake shell, with an application object of its own.
struct TTrayFixture
{
    TFakeTrayShell Shell;
    TApplicationHost App;
    QWidget Owner;
    TPopupMenu Menu;
    std::vector<std::string> Events;
    std::vector<std::string> Errors;
    std::unique_ptr<TabfTrayIcon> Tray;

    TTrayFixture()
    {
        App.OnException = [this](const std::exception& e) { Errors.emplace_back(e.what()); };
        Tray = std::make_unique<TabfTrayIcon>(&Owner, Shell, App);
        Tray->setObjectName("abfTrayIcon");
        Tray->OnMouseDown = [this](QObject*, TMouseButton b, TShiftState s, int x, int y) {
            Events.push_back("down " + Button(b) + " " + std::to_string(s) + " " + std::to_string(x) + "," +
                             std::to_string(y));
        };
        Tray->OnMouseUp = [this](QObject*, TMouseButton b, TShiftState s, int, int) {
            Events.push_back("up " + Button(b) + " " + std::to_string(s));
        };
        Tray->OnClick = [this](QObject*) { Events.push_back("click"); };
        Tray->OnDblClick = [this](QObject*) { Events.push_back("dblclick"); };
        Tray->OnPopupMenu = [this](QObject*) { Shell.Log.push_back("OnPopupMenu"); };
    }

    static std::string Button(TMouseButton b)
    {
        return b == TMouseButton::mbLeft ? "left" : b == TMouseButton::mbRight ? "right" : "middle";
    }
    void Send(std::uint32_t mouseMessage)
    {
        Tray->Handle()->Perform(kTrayCallbackMessage, 0, static_cast<std::intptr_t>(mouseMessage));
    }
    /// Builds the tray icon as the main window does: hint, icon, flags, menu, visible, then loaded.
    void LoadLikeMainWindow()
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::blue);
        Tray->SetHint("Warte auf Camera");
        Tray->LoadIcon(QIcon(pixmap));
        Tray->SetMinimizeToTray(true);
        Tray->SetMinimizeOnStart(true);
        Tray->SetPopupMenu(&Menu);
        Tray->SetVisible(true);
        Tray->Loaded();
        App.MainForm = &Owner;
    }
};

TEST(TabfTrayIcon, HintKeepsSixtyThreeCharactersAndAnUnchangedHintSendsNothing)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Shell.Clear();

    const QString longHint = QString(70, QChar('x')) + "END";
    f.Tray->SetHint(longHint);
    ASSERT_EQ(f.Shell.Requests.size(), 1u);
    EXPECT_EQ(f.Shell.Last().Message, TNotifyIconMessage::nimModify);
    EXPECT_EQ(FieldText(f.Shell.Last().Data.szTip), QString(63, QChar('x')));
    EXPECT_EQ(f.Tray->Hint().size(), 63);

    f.Tray->SetHint(f.Tray->Hint());
    EXPECT_EQ(f.Shell.Requests.size(), 1u) << "an unchanged hint is not sent again";

    f.Tray->SetHint("Hole Fotos");
    f.Tray->SetHint("Hole Fotos");
    EXPECT_EQ(f.Shell.Requests.size(), 2u);
    EXPECT_EQ(FieldText(f.Shell.Last().Data.szTip), "Hole Fotos");
    EXPECT_EQ(f.Shell.Last().Data.cbSize, kExtendedNotifyDataSize);
    EXPECT_EQ(f.Shell.Last().Data.uCallbackMessage, kTrayCallbackMessage);
    EXPECT_EQ(f.Shell.Last().Data.hWnd, f.Tray->Handle());
    EXPECT_EQ(f.Shell.Last().Data.uFlags, NIF_MESSAGE | NIF_TIP | NIF_ICON);

    // Case matters: a hint that differs only in case is a change.
    f.Tray->SetHint("hole fotos");
    EXPECT_EQ(f.Shell.Requests.size(), 3u);

    // Without the hint shown the tip goes out empty; the short record keeps the same 63-character limit.
    f.Tray->SetShowHint(false);
    EXPECT_EQ(FieldText(f.Shell.Last().Data.szTip), "");
    f.Shell.Extended = false;
    f.Tray->SetShowHint(true);
    EXPECT_EQ(f.Shell.Last().Data.cbSize, kShortNotifyDataSize);
    EXPECT_EQ(FieldText(f.Shell.Last().Data.szTip), "hole fotos");

    // A character outside the basic plane at the cut is dropped whole, never halved.
    f.Tray->SetHint(QString(62, QChar('a')) + QString::fromUtf8("\U0001F4F7") + "b");
    EXPECT_EQ(f.Tray->Hint(), QString(62, QChar('a')));
}

TEST(TabfTrayIcon, LeftClickRaisesDownUpThenClickOnceAndOtherButtonsNeverClick)
{
    TTrayFixture f;
    f.Shell.Keys = ssCtrl;
    f.Send(WM_LBUTTONDOWN);
    EXPECT_TRUE(f.Tray->ClickPending());
    f.Send(WM_LBUTTONUP);
    EXPECT_FALSE(f.Tray->ClickPending());
    EXPECT_EQ(f.Events, (std::vector<std::string>{"down left " + std::to_string(ssCtrl | ssLeft) + " 300,5",
                                                  "up left " + std::to_string(ssCtrl | ssLeft), "click"}));
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"foreground"})) << "the owner comes forward on release";

    // A release without a press before it is no click; neither are right or middle clicks.
    f.Events.clear();
    f.Send(WM_LBUTTONUP);
    f.Send(WM_RBUTTONDOWN);
    f.Send(WM_RBUTTONUP);
    f.Send(WM_MBUTTONDOWN);
    f.Send(WM_MBUTTONUP);
    EXPECT_EQ(f.Events,
              (std::vector<std::string>{"up left " + std::to_string(ssCtrl | ssLeft),
                                        "down right " + std::to_string(ssCtrl | ssRight) + " 300,5",
                                        "up right " + std::to_string(ssCtrl | ssRight),
                                        "down middle " + std::to_string(ssCtrl | ssMiddle) + " 300,5",
                                        "up middle " + std::to_string(ssCtrl | ssMiddle)}));

    // Other messages of the hidden window.
    EXPECT_EQ(f.Tray->Handle()->Perform(WM_QUERYENDSESSION), 1);
    EXPECT_EQ(f.Tray->Handle()->Perform(kTrayCallbackMessage, 0, WM_RBUTTONDBLCLK), 0);
}

TEST(TabfTrayIcon, DoubleClickAfterTheClickThatShowedTheWindowHidesItAgain)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Tray->OnClick = [&](QObject*) { f.Owner.show(); };
    ASSERT_FALSE(f.Owner.isVisible());

    f.Send(WM_LBUTTONDOWN);
    f.Send(WM_LBUTTONUP);
    EXPECT_TRUE(f.Owner.isVisible()) << "the first click shows the window";
    f.Send(WM_LBUTTONDBLCLK);
    EXPECT_FALSE(f.Owner.isVisible()) << "the double-click finds it visible and hides it";
    EXPECT_EQ(f.Events.back(), "dblclick");

    // Without MinimizeToTray the double-click shows the application instead.
    f.Tray->SetMinimizeToTray(false);
    f.Send(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(f.Owner.isVisible());

    // A default menu item takes the double-click over; the window stays as it is.
    int defaultRuns = 0;
    QAction* open = f.Menu.addAction("Fenster öffnen");
    QObject::connect(open, &QAction::triggered, [&] { ++defaultRuns; });
    f.Menu.setDefaultAction(open);
    f.Tray->SetMinimizeToTray(true);
    f.Send(WM_LBUTTONDBLCLK);
    EXPECT_EQ(defaultRuns, 1);
    EXPECT_TRUE(f.Owner.isVisible());
    // ... but not when the left button pops the menu up.
    f.Tray->SetPopupByLeft(true);
    f.Send(WM_LBUTTONDBLCLK);
    EXPECT_EQ(defaultRuns, 1);
    EXPECT_FALSE(f.Owner.isVisible());
}

TEST(TabfTrayIcon, RightReleasePopsTheMenuAtTheCursorThenPostsNullThenRaisesOnPopupMenu)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    int chosen = 0;
    QAction* quit = f.Menu.addAction("Beenden");
    QObject::connect(quit, &QAction::triggered, [&] { ++chosen; });
    f.Shell.InMenu = [&](QMenu& menu) {
        EXPECT_EQ(&menu, &f.Menu);
        EXPECT_EQ(f.Menu.PopupComponent(), f.Tray.get());
        quit->trigger();
        f.Shell.Log.push_back("item chosen");
    };
    f.Shell.Clear();

    f.Send(WM_RBUTTONDOWN);
    f.Send(WM_RBUTTONUP);
    EXPECT_EQ(f.Shell.Log,
              (std::vector<std::string>{"foreground", "process messages", "foreground", "popup at 300,5",
                                        "item chosen", "post WM_NULL", "OnPopupMenu"}));
    EXPECT_EQ(chosen, 1);

    // Without AutoPopup, without a menu, or with the left button (unless PopupByLeft) nothing pops up.
    f.Menu.SetAutoPopup(false);
    f.Shell.Clear();
    f.Send(WM_RBUTTONUP);
    f.Menu.SetAutoPopup(true);
    f.Send(WM_LBUTTONDOWN);
    f.Send(WM_LBUTTONUP);
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"foreground", "foreground"}));
    f.Tray->SetPopupByLeft(true);
    f.Send(WM_LBUTTONDOWN);
    f.Send(WM_LBUTTONUP);
    EXPECT_EQ(chosen, 2);
    f.Tray->SetPopupMenu(nullptr);
    f.Shell.Clear();
    f.Send(WM_RBUTTONUP);
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"foreground"}));
}

TEST(TabfTrayIcon, DisabledIconIgnoresEveryMouseMessage)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Tray->OnMouseMove = [&](QObject*, TShiftState, int, int) { f.Events.push_back("move"); };
    f.Tray->SetEnabled(false);
    f.Shell.Clear();
    for (std::uint32_t message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                                  WM_RBUTTONDOWN, WM_RBUTTONUP, WM_MBUTTONDOWN, WM_MBUTTONUP})
        f.Send(message);
    EXPECT_TRUE(f.Events.empty());
    EXPECT_TRUE(f.Shell.Log.empty());
    EXPECT_FALSE(f.Tray->ClickPending());

    f.Tray->SetEnabled(true);
    f.Send(WM_MOUSEMOVE);
    EXPECT_EQ(f.Events, (std::vector<std::string>{"move"}));
}

TEST(TabfTrayIcon, MinimizeOnStartKeepsTheMainWindowHiddenWithTheIconInTheTray)
{
    TTrayFixture f;
    int minimized = 0;
    f.Tray->OnMinimize = [&](QObject*) { ++minimized; };
    f.LoadLikeMainWindow();

    EXPECT_FALSE(f.App.ShowMainForm);
    EXPECT_FALSE(f.Owner.isVisible());
    EXPECT_TRUE(f.Shell.InTray);
    EXPECT_EQ(minimized, 1);
    // The hint set before the icon existed was refused; the add carries it and the icon.
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"modify refused", "add", "add refused"}));
    const auto& add = f.Shell.Requests.at(1).Data;
    EXPECT_EQ(FieldText(add.szTip), "Warte auf Camera");
    EXPECT_FALSE(add.hIcon.isNull());
    EXPECT_TRUE(add.uFlags & NIF_ICON);

    // Minimising the shown window sends it to the tray.
    f.Owner.show();
    f.Owner.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(f.Owner.isVisible());
    EXPECT_EQ(minimized, 2);
    EXPECT_TRUE(f.Shell.InTray);
    // Shown again from the tray it is no longer minimised.
    f.Tray->SetVisible(false);
    EXPECT_TRUE(f.Owner.isVisible());
    EXPECT_FALSE(f.Owner.isMinimized());

    // Without MinimizeToTray minimising is left to the desktop.
    f.Tray->SetMinimizeToTray(false);
    f.Owner.setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(minimized, 2);
}

TEST(TabfTrayIcon, HidingTheIconShowsTheApplicationAndRestartedShellGetsTheIconBack)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    std::vector<std::string> shown;
    f.Tray->OnShow = [&](QObject*) { shown.push_back("show"); };
    f.Tray->OnHide = [&](QObject*) { shown.push_back("hide"); };
    f.Shell.Clear();

    f.Tray->SetVisible(false);
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"delete"}));
    EXPECT_FALSE(f.Shell.Last().Data.uFlags & NIF_ICON);
    EXPECT_TRUE(f.Owner.isVisible()) << "with MinimizeToTray the main window comes back";
    f.Tray->SetVisible(false);
    EXPECT_EQ(f.Shell.Requests.size(), 1u) << "an unchanged Visible does nothing";

    // A new tray host: the icon is deleted and added again, which shows the main window as a side effect.
    f.Tray->SetVisible(true);
    f.Owner.hide();
    f.Shell.Clear();
    f.Shell.InTray = false;
    f.Tray->Handle()->Perform(TaskbarCreatedMsg);
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"delete refused", "add"}));
    EXPECT_TRUE(f.Shell.InTray);
    EXPECT_TRUE(f.Owner.isVisible());
    EXPECT_EQ(shown, (std::vector<std::string>{"hide", "show", "hide", "show"}));

    // A hidden icon stays out of the tray.
    f.Tray->SetVisible(false);
    f.Shell.Clear();
    f.Tray->Handle()->Perform(TaskbarCreatedMsg);
    EXPECT_TRUE(f.Shell.Log.empty());
}

TEST(TabfTrayIcon, ChangingIconIdMovesAVisibleIconToTheNewIdentifier)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Shell.Clear();
    f.Tray->SetIconID(7);
    ASSERT_EQ(f.Shell.Requests.size(), 2u);
    EXPECT_EQ(f.Shell.Requests[0].Message, TNotifyIconMessage::nimDelete);
    EXPECT_EQ(f.Shell.Requests[0].Data.uID, 0u);
    EXPECT_EQ(f.Shell.Requests[1].Message, TNotifyIconMessage::nimAdd);
    EXPECT_EQ(f.Shell.Requests[1].Data.uID, 7u);
    EXPECT_TRUE(f.Tray->Visible());

    // A hidden icon only takes the new number.
    f.Tray->SetVisible(false);
    f.Shell.Clear();
    f.Tray->SetIconID(8);
    EXPECT_TRUE(f.Shell.Requests.empty());
    f.Tray->SetVisible(true);
    EXPECT_EQ(f.Shell.Last().Data.uID, 8u);
}

TEST(TabfTrayIcon, ShellFailuresBecomeEabfTrayIconAndHandlerErrorsReachTheApplication)
{
    TTrayFixture f;
    f.Shell.FailAdd = true;
    try {
        f.Tray->SetVisible(true);
        ADD_FAILURE() << "no exception";
    } catch (const EabfTrayIcon& e) {
        EXPECT_STREQ(e.what(), "abfTrayIcon.InsertToTray failed");
    }
    EXPECT_TRUE(f.Tray->Visible()) << "Visible keeps what the setter stored";

    f.Shell.FailAdd = false;
    f.Shell.FailDelete = true;
    try {
        f.Tray->SetVisible(false);
        ADD_FAILURE() << "no exception";
    } catch (const EabfTrayIcon& e) {
        EXPECT_STREQ(e.what(), "abfTrayIcon.DeleteFromTray failed");
    }
    f.Shell.FailDelete = false;

    // An exception from a click handler ends that message only; the next one is handled as usual.
    int clicks = 0;
    f.Tray->OnClick = [&](QObject*) {
        if (++clicks == 1)
            throw Exception("Datei x kann nicht geöffnet werden");
    };
    f.Send(WM_LBUTTONDOWN);
    f.Send(WM_LBUTTONUP);
    f.Send(WM_LBUTTONDOWN);
    f.Send(WM_LBUTTONUP);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(f.Errors, (std::vector<std::string>{"Datei x kann nicht geöffnet werden"}));
}

TEST(TabfTrayIcon, BalloonNeedsTheExtendedRecordAndCutsItsTexts)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Tray->SetInfoTitle(QString(70, QChar('t')));
    f.Tray->SetInfoText(QString(300, QChar('m')));
    f.Tray->SetInfoType(TabfTrayIconInfoType::tiiWarning);
    f.Tray->SetInfoTimeout(5000);
    f.Shell.Clear();
    f.Tray->ShowBalloon();
    ASSERT_EQ(f.Shell.Requests.size(), 1u);
    const auto& data = f.Shell.Last().Data;
    EXPECT_EQ(f.Shell.Last().Message, TNotifyIconMessage::nimModify);
    EXPECT_EQ(data.uFlags, NIF_INFO);
    EXPECT_EQ(data.dwInfoFlags, 2u);
    EXPECT_EQ(data.uTimeout, 5000u);
    EXPECT_EQ(FieldText(data.szInfo), QString(255, QChar('m')));
    EXPECT_EQ(FieldText(data.szInfoTitle), QString(63, QChar('t')));
    EXPECT_EQ(data.dwState, 0u);

    f.Shell.Extended = false;
    f.Shell.Clear();
    f.Tray->ShowBalloon();
    EXPECT_TRUE(f.Shell.Requests.empty());

    int balloonClicks = 0;
    f.Tray->OnBalloonClick = [&](QObject*) { ++balloonClicks; };
    f.Send(NIN_BALLOONUSERCLICK);
    EXPECT_EQ(balloonClicks, 1);
}

TEST(TabfTrayIcon, CyclingStepsThroughTheImageListAndWraps)
{
    TTrayFixture f;
    TImageList images;
    std::vector<QIcon> icons;
    for (Qt::GlobalColor color : {Qt::red, Qt::green, Qt::blue}) {
        QPixmap pixmap(16, 16);
        pixmap.fill(color);
        icons.emplace_back(pixmap);
        images.Add(icons.back());
    }
    f.Tray->SetImageList(&images);
    f.Tray->SetVisible(true);
    EXPECT_EQ(f.Tray->Icon().cacheKey(), icons[0].cacheKey());
    EXPECT_FALSE(f.Tray->Handle()->TimerRunning()) << "no timer until cycling is on";

    int cycles = 0;
    f.Tray->OnCycleIcons = [&](QObject*) { ++cycles; };
    f.Tray->SetCycleIcons(true);
    EXPECT_TRUE(f.Tray->Handle()->TimerRunning());
    std::vector<int> indexes;
    for (int i = 0; i < 4; ++i) {
        f.Tray->Handle()->Perform(WM_TIMER, 1);
        indexes.push_back(f.Tray->ImageIndex());
    }
    EXPECT_EQ(indexes, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(cycles, 4);
    EXPECT_EQ(f.Tray->Icon().cacheKey(), icons[1].cacheKey());
    EXPECT_EQ(f.Shell.Last().Data.hIcon.cacheKey(), icons[1].cacheKey());

    f.Tray->SetCycleIcons(false);
    EXPECT_FALSE(f.Tray->Handle()->TimerRunning());
    // An index past the list gives an empty icon rather than a wrong one.
    f.Tray->SetImageIndex(9);
    EXPECT_TRUE(f.Tray->Icon().isNull());
}

TEST(TabfTrayIcon, DestructionTakesTheIconOutWithoutShowingTheWindow)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Shell.Clear();
    f.Tray.reset();
    EXPECT_EQ(f.Shell.Log, (std::vector<std::string>{"delete"}));
    EXPECT_FALSE(f.Owner.isVisible());
    // The owner is no longer watched: minimising it now is harmless.
    f.Owner.show();
    f.Owner.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(f.Owner.isVisible());
}

} // namespace
