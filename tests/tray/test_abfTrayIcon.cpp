#include "tests/tray/FakeTrayShell.h"
#include "tray/abfComponents.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using TLog = std::vector<std::string>;

/// A window that owns a tray icon over the fake shell, with an application object of its own. Mouse events
/// are written to Events as "down L <shift>", "up R <shift>", "click", "dblclick".
struct TTrayFixture
{
    TFakeTrayShell Shell;
    TApplicationHost App;
    QWidget Owner;
    TPopupMenu Menu;
    TLog Events;
    TLog Errors;
    std::unique_ptr<TabfTrayIcon> Tray;

    TTrayFixture()
    {
        App.OnException = [this](const std::exception& e) { Errors.emplace_back(e.what()); };
        Tray = std::make_unique<TabfTrayIcon>(&Owner, Shell, App);
        Tray->setObjectName("abfTrayIcon");
        Tray->OnMouseDown = [this](QObject*, TMouseButton b, TShiftState s, int x, int y) {
            Events.push_back("down " + Name(b) + " " + std::to_string(s) + " " + std::to_string(x) + "," +
                             std::to_string(y));
        };
        Tray->OnMouseUp = [this](QObject*, TMouseButton b, TShiftState s, int, int) {
            Events.push_back("up " + Name(b) + " " + std::to_string(s));
        };
        Tray->OnClick = [this](QObject*) { Events.push_back("click"); };
        Tray->OnDblClick = [this](QObject*) { Events.push_back("dblclick"); };
        Tray->OnPopupMenu = [this](QObject*) { Shell.Log.push_back("OnPopupMenu"); };
    }
    static std::string Name(TMouseButton b)
    {
        return b == TMouseButton::mbLeft ? "L" : b == TMouseButton::mbRight ? "R" : "M";
    }
    void Send(TTrayEvent event) { Shell.Send(event); }
    /// The tray icon as the main window sets it up: hint, icon, flags, menu, visible, then loaded.
    void LoadLikeMainWindow()
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::blue);
        Tray->SetHint("Warte auf Camera");
        Tray->LoadFormIcon(QIcon(pixmap));
        Tray->SetMinimizeToTray(true);
        Tray->SetMinimizeOnStart(true);
        Tray->SetPopupMenu(&Menu);
        Tray->SetVisible(true);
        Tray->Loaded();
        App.MainForm = &Owner;
    }
    QString Tip() const { return FieldText(Shell.Last().Data.szTip); }
};

TEST(TabfTrayIcon, HintKeepsSixtyThreeCharactersAndAnUnchangedHintSendsNothing)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Shell.Clear();
    f.Tray->SetHint(QString(70, QChar('x')) + "END");
    EXPECT_EQ(f.Shell.Log, TLog{"modify"});
    EXPECT_EQ(f.Tip(), QString(63, QChar('x')));
    f.Tray->SetHint(f.Tray->Hint());
    f.Tray->SetHint("Hole Fotos");
    f.Tray->SetHint("Hole Fotos");
    f.Tray->SetHint("hole fotos"); // case matters
    EXPECT_EQ(f.Shell.Log, (TLog{"modify", "modify", "modify"}));
    const TNotifyIconData& data = f.Shell.Last().Data;
    EXPECT_EQ(data.cbSize, kExtendedNotifyDataSize);
    EXPECT_EQ(data.uCallbackMessage, 0x04D3u);
    EXPECT_EQ(data.uFlags, 0x07u) << "message, tip and icon";

    // Hidden hint: an empty tip. The short record keeps the same limit.
    f.Tray->SetShowHint(false);
    EXPECT_EQ(f.Tip(), "");
    f.Shell.Extended = false;
    f.Tray->SetShowHint(true);
    EXPECT_EQ(f.Shell.Last().Data.cbSize, kShortNotifyDataSize);
    EXPECT_EQ(f.Tip(), "hole fotos");
    // A character outside the basic plane at the cut is dropped whole, never halved.
    f.Tray->SetHint(QString(62, QChar('a')) + QString::fromUtf8("\U0001F4F7") + "b");
    EXPECT_EQ(f.Tray->Hint(), QString(62, QChar('a')));
}

TEST(TabfTrayIcon, LeftClickRaisesDownUpThenClickOnceAndOtherButtonsNeverClick)
{
    TTrayFixture f;
    f.Shell.Keys = ssCtrl;
    f.Send(TTrayEvent::LButtonDown);
    EXPECT_TRUE(f.Tray->ClickPending());
    f.Send(TTrayEvent::LButtonUp);
    EXPECT_FALSE(f.Tray->ClickPending());
    const std::string left = std::to_string(ssCtrl | ssLeft);
    EXPECT_EQ(f.Events, (TLog{"down L " + left + " 300,5", "up L " + left, "click"}));
    EXPECT_EQ(f.Shell.Log, TLog{"foreground"}) << "the owner comes forward on release";

    // A release without its press, and the right and middle buttons, never click.
    f.Events.clear();
    for (TTrayEvent message : {TTrayEvent::LButtonUp, TTrayEvent::RButtonDown, TTrayEvent::RButtonUp,
                               TTrayEvent::MButtonDown, TTrayEvent::MButtonUp})
        f.Send(message);
    EXPECT_EQ(f.Events, (TLog{"up L " + left, "down R " + std::to_string(ssCtrl | ssRight) + " 300,5",
                              "up R " + std::to_string(ssCtrl | ssRight),
                              "down M " + std::to_string(ssCtrl | ssMiddle) + " 300,5",
                              "up M " + std::to_string(ssCtrl | ssMiddle)}));
    EXPECT_EQ(f.Tray->Handle()->Perform(TWindowMessage::QueryEndSession), 1);
}

TEST(TabfTrayIcon, TakesTheShellsCallbackMessagesUntilItIsDestroyed)
{
    TTrayFixture f;
    ASSERT_TRUE(f.Shell.Callback) << "registered by the constructor";
    // Another message number than the one in the record is not a mouse action.
    f.Shell.Callback(0x04D4, 0, 0x201);
    EXPECT_TRUE(f.Events.empty());
    f.Shell.Callback(0x04D3, 0, 0x201);
    EXPECT_EQ(f.Events.size(), 1u);
    f.Tray.reset();
    EXPECT_FALSE(f.Shell.Callback) << "a destroyed icon leaves no receiver behind";
}

TEST(TabfTrayIcon, DoubleClickAfterTheClickThatShowedTheWindowHidesItAgain)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Tray->OnClick = [&](QObject*) { f.Owner.show(); };
    f.Send(TTrayEvent::LButtonDown);
    f.Send(TTrayEvent::LButtonUp);
    EXPECT_TRUE(f.Owner.isVisible());
    f.Send(TTrayEvent::LButtonDblClk);
    EXPECT_FALSE(f.Owner.isVisible());
    EXPECT_EQ(f.Events.back(), "dblclick");
    // Without MinimizeToTray it shows the application instead.
    f.Tray->SetMinimizeToTray(false);
    f.Send(TTrayEvent::LButtonDblClk);
    EXPECT_TRUE(f.Owner.isVisible());

    // A default menu item takes the double-click over, unless the left button pops the menu up.
    int defaultRuns = 0;
    QAction* open = f.Menu.addAction("Fenster öffnen");
    QObject::connect(open, &QAction::triggered, [&] { ++defaultRuns; });
    f.Menu.setDefaultAction(open);
    f.Tray->SetMinimizeToTray(true);
    f.Send(TTrayEvent::LButtonDblClk);
    EXPECT_EQ(defaultRuns, 1);
    EXPECT_TRUE(f.Owner.isVisible());
    f.Tray->SetPopupByLeft(true);
    f.Send(TTrayEvent::LButtonDblClk);
    EXPECT_EQ(defaultRuns, 1);
    EXPECT_FALSE(f.Owner.isVisible());
}

TEST(TabfTrayIcon, RightReleasePopsTheMenuAtTheCursorThenPostsNullThenRaisesOnPopupMenu)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    QAction* quit = f.Menu.addAction("Beenden");
    f.Shell.InMenu = [&](QMenu& menu) {
        EXPECT_EQ(&menu, &f.Menu);
        EXPECT_EQ(f.Menu.PopupComponent(), f.Tray.get());
        quit->trigger();
        f.Shell.Log.push_back("item chosen");
    };
    f.Shell.Clear();
    f.Send(TTrayEvent::RButtonDown);
    f.Send(TTrayEvent::RButtonUp);
    EXPECT_EQ(f.Shell.Log, (TLog{"foreground", "process messages", "foreground", "popup at 300,5",
                                 "item chosen", "post WM_NULL", "OnPopupMenu"}));

    // No popup without AutoPopup, nor on the left button unless PopupByLeft, nor without a menu.
    f.Menu.SetAutoPopup(false);
    f.Shell.Clear();
    f.Send(TTrayEvent::RButtonUp);
    f.Menu.SetAutoPopup(true);
    f.Send(TTrayEvent::LButtonUp);
    EXPECT_EQ(f.Shell.Log, (TLog{"foreground", "foreground"}));
    f.Tray->SetPopupByLeft(true);
    f.Send(TTrayEvent::LButtonUp);
    EXPECT_EQ(f.Shell.Log.back(), "OnPopupMenu");
    f.Tray->SetPopupMenu(nullptr);
    f.Shell.Clear();
    f.Send(TTrayEvent::RButtonUp);
    EXPECT_EQ(f.Shell.Log, TLog{"foreground"});
}

TEST(TabfTrayIcon, DisabledIconIgnoresEveryMouseMessage)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Tray->OnMouseMove = [&](QObject*, TShiftState, int, int) { f.Events.push_back("move"); };
    f.Tray->SetEnabled(false);
    f.Shell.Clear();
    for (TTrayEvent message :
         {TTrayEvent::MouseMove, TTrayEvent::LButtonDown, TTrayEvent::LButtonUp, TTrayEvent::LButtonDblClk,
          TTrayEvent::RButtonDown, TTrayEvent::RButtonUp, TTrayEvent::MButtonDown, TTrayEvent::MButtonUp})
        f.Send(message);
    EXPECT_TRUE(f.Events.empty());
    EXPECT_TRUE(f.Shell.Log.empty());
    f.Tray->SetEnabled(true);
    f.Send(TTrayEvent::MouseMove);
    EXPECT_EQ(f.Events, TLog{"move"});
}

TEST(TabfTrayIcon, MinimizeOnStartAndMinimisingKeepTheWindowHiddenWithTheIconInTheTray)
{
    TTrayFixture f;
    int minimized = 0;
    f.Tray->OnMinimize = [&](QObject*) { ++minimized; };
    f.LoadLikeMainWindow();
    EXPECT_FALSE(f.App.ShowMainForm);
    EXPECT_FALSE(f.Owner.isVisible());
    EXPECT_EQ(minimized, 1);
    // The hint set before the icon existed was refused; the add carries hint and icon.
    EXPECT_EQ(f.Shell.Log, (TLog{"modify refused", "add", "add refused"}));
    const TNotifyIconData& add = f.Shell.Requests.at(1).Data;
    EXPECT_EQ(FieldText(add.szTip), "Warte auf Camera");
    EXPECT_FALSE(add.hIcon.isNull());

    f.Owner.show();
    f.Owner.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(f.Owner.isVisible());
    EXPECT_EQ(minimized, 2);
    EXPECT_TRUE(f.Shell.InTray);
    // Hiding the icon brings the window back, no longer minimised.
    f.Tray->SetVisible(false);
    EXPECT_EQ(f.Shell.Log.back(), "delete");
    EXPECT_TRUE(f.Owner.isVisible());
    EXPECT_FALSE(f.Owner.isMinimized());
    f.Tray->SetMinimizeToTray(false);
    f.Owner.setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(minimized, 2);
}

TEST(TabfTrayIcon, ANewTrayHostGetsTheIconAgainAndShowsTheWindow)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Shell.Clear();
    f.Shell.InTray = false;
    f.Tray->Handle()->Perform(TWindowMessage::TaskbarCreated);
    EXPECT_EQ(f.Shell.Log, (TLog{"delete refused", "add"}));
    EXPECT_TRUE(f.Owner.isVisible());
    // A hidden icon stays out.
    f.Tray->SetVisible(false);
    f.Shell.Clear();
    f.Tray->Handle()->Perform(TWindowMessage::TaskbarCreated);
    EXPECT_TRUE(f.Shell.Log.empty());
}

TEST(TabfTrayIcon, ChangingIconIdMovesAVisibleIconToTheNewIdentifier)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Shell.Clear();
    f.Tray->SetIconID(7);
    ASSERT_EQ(f.Shell.Log, (TLog{"delete", "add"}));
    EXPECT_EQ(f.Shell.Requests[0].Data.uID, 0u);
    EXPECT_EQ(f.Shell.Requests[1].Data.uID, 7u);
    f.Tray->SetVisible(false);
    f.Shell.Clear();
    f.Tray->SetIconID(8);
    EXPECT_TRUE(f.Shell.Requests.empty()) << "a hidden icon only takes the number";
}

TEST(TabfTrayIcon, ShellFailuresBecomeEabfTrayIconAndHandlerErrorsReachTheApplication)
{
    TTrayFixture f;
    const auto failure = [](const auto& step) -> std::string {
        try {
            step();
        } catch (const EabfTrayIcon& e) {
            return e.what();
        }
        return "no exception";
    };
    f.Shell.FailAdd = true;
    EXPECT_EQ(failure([&] { f.Tray->SetVisible(true); }), "abfTrayIcon.InsertToTray failed");
    EXPECT_TRUE(f.Tray->Visible()) << "Visible keeps what the setter stored";
    f.Shell.FailDelete = true;
    EXPECT_EQ(failure([&] { f.Tray->SetVisible(false); }), "abfTrayIcon.DeleteFromTray failed");
    f.Shell.FailDelete = false;

    // An exception from a click handler ends that message only.
    int clicks = 0;
    f.Tray->OnClick = [&](QObject*) {
        if (++clicks == 1)
            throw Exception("Datei x kann nicht geöffnet werden");
    };
    for (int i = 0; i < 2; ++i) {
        f.Send(TTrayEvent::LButtonDown);
        f.Send(TTrayEvent::LButtonUp);
    }
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(f.Errors, TLog{"Datei x kann nicht geöffnet werden"});
}

TEST(TabfTrayIcon, BalloonNeedsTheExtendedRecordAndCutsItsTexts)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Tray->SetInfoTitle(QString(70, QChar('t')));
    f.Tray->SetInfoText(QString(300, QChar('m')));
    f.Tray->SetInfoType(TabfTrayIconInfoType::tiiWarning);
    f.Tray->SetInfoTimeout(5000);
    f.Tray->ShowBalloon();
    const TNotifyIconData& data = f.Shell.Last().Data;
    EXPECT_EQ(data.uFlags, 0x10u) << "the balloon alone";
    EXPECT_EQ(data.dwInfoFlags, 2u);
    EXPECT_EQ(data.uTimeout, 5000u);
    EXPECT_EQ(FieldText(data.szInfo), QString(255, QChar('m')));
    EXPECT_EQ(FieldText(data.szInfoTitle), QString(63, QChar('t')));
    f.Shell.Extended = false;
    f.Shell.Clear();
    f.Tray->ShowBalloon();
    EXPECT_TRUE(f.Shell.Requests.empty());
}

TEST(TabfTrayIcon, CyclingStepsThroughTheImageListAndWraps)
{
    TTrayFixture f;
    TImageList images;
    std::vector<QIcon> icons;
    for (Qt::GlobalColor color : {Qt::red, Qt::green, Qt::blue}) {
        QPixmap pixmap(16, 16);
        pixmap.fill(color);
        images.Add(icons.emplace_back(pixmap));
    }
    f.Tray->SetImageList(&images);
    f.Tray->SetVisible(true);
    EXPECT_FALSE(f.Tray->Handle()->TimerRunning()) << "no timer until cycling is on";
    f.Tray->SetCycleIcons(true);
    EXPECT_TRUE(f.Tray->Handle()->TimerRunning());
    std::vector<int> indexes;
    for (int i = 0; i < 4; ++i) {
        f.Tray->Handle()->Perform(TWindowMessage::Timer, 1);
        indexes.push_back(f.Tray->ImageIndex());
    }
    EXPECT_EQ(indexes, (std::vector<int>{1, 2, 0, 1}));
    EXPECT_EQ(f.Shell.Last().Data.hIcon.cacheKey(), icons[1].cacheKey());
    f.Tray->SetCycleIcons(false);
    EXPECT_FALSE(f.Tray->Handle()->TimerRunning());
    f.Tray->SetImageIndex(9);
    EXPECT_TRUE(f.Tray->Icon().isNull()) << "an index past the list gives no icon rather than a wrong one";
}

TEST(TabfTrayIcon, DestructionTakesTheIconOutWithoutShowingTheWindow)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Shell.Clear();
    f.Tray.reset();
    EXPECT_EQ(f.Shell.Log, TLog{"delete"});
    EXPECT_FALSE(f.Owner.isVisible());
}

} // namespace
