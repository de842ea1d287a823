#include "tests/tray/FakeTrayShell.h"
#include "tray/abfComponents.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using TLog = std::vector<std::string>;
constexpr TIconHandle kProgramIcon = 42;

/// A window that owns a tray icon over the fake shell, with an application object of its own. The icon's
/// events go into the shell's log beside its calls: "down L <shift> x,y", "up R <shift>", "click", ...
struct TTrayFixture
{
    TFakeTrayShell Shell;
    TFakeTrayApplication App;
    TFakeTrayWindow Owner;
    TPopupMenu Menu;
    TLog& Log = Shell.Log;
    std::unique_ptr<TabfTrayIcon> Tray = std::make_unique<TabfTrayIcon>(&Owner, Shell, App);

    TTrayFixture()
    {
        Tray->SetName("abfTrayIcon");
        Tray->OnMouseDown = [this](TComponent*, TMouseButton b, TShiftState s, int x, int y) {
            Log.push_back("down " + Name(b) + std::to_string(s) + " " + std::to_string(x) + "," +
                          std::to_string(y));
        };
        Tray->OnMouseUp = [this](TComponent*, TMouseButton b, TShiftState s, int, int) {
            Log.push_back("up " + Name(b) + std::to_string(s));
        };
        Tray->OnClick = [this](TComponent*) { Log.push_back("click"); };
        Tray->OnDblClick = [this](TComponent*) { Log.push_back("dblclick"); };
        Tray->OnPopupMenu = [this](TComponent*) { Log.push_back("OnPopupMenu"); };
    }
    static std::string Name(TMouseButton b) { return std::string(1, "LRM"[static_cast<int>(b)]) + " "; }
    void Send(std::initializer_list<TTrayEvent> events)
    {
        for (TTrayEvent event : events)
            Shell.Send(event);
    }
    /// The tray icon as the main window sets it up: hint, icon, flags, menu, visible, then loaded; the
    /// menu's items log their clicks.
    void LoadLikeMainWindow()
    {
        for (const char* caption : {"Fenster öffnen", "Fenster schliessen", "Beenden"})
            Menu.Add(caption,
                     [this](TComponent* item) { Log.push_back(static_cast<TMenuItem*>(item)->Caption()); });
        Tray->SetHint("Warte auf Camera");
        Tray->LoadFormIcon(kProgramIcon);
        Tray->SetMinimizeToTray(true);
        Tray->SetMinimizeOnStart(true);
        Tray->SetPopupMenu(&Menu);
        Tray->SetVisible(true);
        Tray->Loaded();
        App.Main = &Owner;
    }
    std::string Tip() const { return FieldText(Shell.Last().Data.szTip); }
};

TEST(TabfTrayIcon, HintKeepsSixtyThreeCharactersAnUnchangedHintSendsNothingAndBalloonsCutTheirTexts)
{
    TTrayFixture f;
    f.Tray->SetVisible(true);
    f.Shell.Clear();
    f.Tray->SetHint(std::string(70, 'x') + "END");
    EXPECT_EQ(f.Tip(), std::string(63, 'x'));
    f.Tray->SetHint(f.Tray->Hint());
    f.Tray->SetHint("Hole Fotos");
    f.Tray->SetHint("Hole Fotos");
    f.Tray->SetHint("hole fotos"); // case matters
    EXPECT_EQ(f.Log, (TLog{"modify", "modify", "modify"}));
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
    // Characters are counted as the shell counts them: one outside the basic plane takes two, and is
    // dropped whole at the cut, never halved.
    f.Tray->SetHint(std::string(62, 'a') + "\U0001F4F7b");
    EXPECT_EQ(f.Tray->Hint(), std::string(62, 'a'));

    // The balloon alone, with its texts cut to 255 and 63 characters; nothing without the extended record.
    f.Tray->SetInfoTitle(std::string(70, 't'));
    f.Tray->SetInfoText(std::string(300, 'm'));
    f.Tray->SetInfoType(TabfTrayIconInfoType::tiiWarning);
    f.Tray->SetInfoTimeout(5000);
    f.Shell.Extended = true;
    f.Tray->ShowBalloon();
    const TNotifyIconData& balloon = f.Shell.Last().Data;
    EXPECT_EQ(balloon.uFlags, 0x10u);
    EXPECT_EQ(balloon.dwInfoFlags, 2u);
    EXPECT_EQ(balloon.uTimeout, 5000u);
    EXPECT_EQ(FieldText(balloon.szInfo), std::string(255, 'm'));
    EXPECT_EQ(FieldText(balloon.szInfoTitle), std::string(63, 't'));
    f.Shell.Extended = false;
    f.Shell.Clear();
    f.Tray->ShowBalloon();
    EXPECT_TRUE(f.Shell.Requests.empty());
}

// The record's text fields take UTF-8 text as UTF-16 within their limits, and hostile bytes never get
// through as anything but the replacement character.
TEST(TNotifyIconData, TextFieldsHoldValidUtf16WithinTheirLimits)
{
    const struct
    {
        const char* Text;
        std::size_t MaxChars;
        std::u16string Field;
    } cases[] = {
        {"Übertragung beendet", 127, u"Übertragung beendet"},
        {"ab\U0001F4F7", 4, u"ab\U0001F4F7"},
        {"ab\U0001F4F7", 3, u"ab"},
        {"a\xFF-", 127, u"a\uFFFD-"},
        {"\xC0\xAF", 127, u"\uFFFD\uFFFD"},                     // overlong '/'
        {"\xED\xA0\x80", 127, u"\uFFFD\uFFFD\uFFFD"},           // a surrogate in UTF-8
        {"x\xE2\x82", 127, u"x\uFFFD\uFFFD"},                   // cut short
        {"\xF4\x90\x80\x80", 127, u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        std::array<char16_t, 128> tip;
        tip.fill(u'?');
        SetFieldText(tip, c.Text, c.MaxChars);
        EXPECT_EQ(std::u16string(tip.data()), c.Field);
        EXPECT_EQ(tip.back(), u'\0') << "the rest of the field is cleared";
    }
    // The field's own size wins over a larger limit; reading back, an unpaired surrogate becomes U+FFFD and
    // a field without its zero ends at its size.
    std::array<char16_t, 4> small{};
    SetFieldText(small, "0123456789", 1000);
    EXPECT_EQ(FieldText(small), "012");
    EXPECT_EQ(FieldText(std::array<char16_t, 3>{u'a', 0xD800, u'b'}), "a\uFFFDb");
}

TEST(TabfTrayIcon, LeftClickRaisesDownUpThenClickOnceOtherButtonsNeverClickAndDisabledNothing)
{
    TTrayFixture f;
    f.Shell.Keys = ssCtrl;
    f.Send({TTrayEvent::LButtonDown});
    EXPECT_TRUE(f.Tray->ClickPending());
    f.Send({TTrayEvent::LButtonUp});
    EXPECT_FALSE(f.Tray->ClickPending());
    // A release without its press, and the right and middle buttons, never click.
    f.Send({TTrayEvent::LButtonUp, TTrayEvent::RButtonDown, TTrayEvent::RButtonUp, TTrayEvent::MButtonDown,
            TTrayEvent::MButtonUp});
    const auto keys = [](TShiftState button) { return std::to_string(ssCtrl | button); };
    EXPECT_EQ(f.Log, (TLog{"down L " + keys(ssLeft) + " 300,5", "foreground", "up L " + keys(ssLeft), "click",
                           "foreground", "up L " + keys(ssLeft), "down R " + keys(ssRight) + " 300,5",
                           "foreground", "up R " + keys(ssRight), "down M " + keys(ssMiddle) + " 300,5",
                           "foreground", "up M " + keys(ssMiddle)}));
    EXPECT_EQ(f.Shell.Post(TWindowMessage::QueryEndSession), 1);
    // Another message number than the one in the record is no mouse action; a disabled icon ignores them all.
    f.Log.clear();
    f.Shell.Callback(0x04D4, 0, 0x201);
    f.Tray->OnMouseMove = [&](TComponent*, TShiftState, int, int) { f.Log.push_back("move"); };
    f.Tray->SetEnabled(false);
    f.Send({TTrayEvent::MouseMove, TTrayEvent::LButtonDown, TTrayEvent::LButtonUp, TTrayEvent::LButtonDblClk,
            TTrayEvent::RButtonDown, TTrayEvent::RButtonUp, TTrayEvent::MButtonDown, TTrayEvent::MButtonUp});
    EXPECT_TRUE(f.Log.empty());
    f.Tray->SetEnabled(true);
    f.Send({TTrayEvent::MouseMove});
    EXPECT_EQ(f.Log, TLog{"move"});
}

TEST(TabfTrayIcon, DoubleClickAfterTheClickThatShowedTheWindowHidesItAgainAndDestructionLeavesItHidden)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Tray->OnClick = [&](TComponent*) { f.Owner.ShowNormal(); };
    f.Send({TTrayEvent::LButtonDown, TTrayEvent::LButtonUp});
    EXPECT_TRUE(f.Owner.Shown);
    f.Send({TTrayEvent::LButtonDblClk});
    EXPECT_FALSE(f.Owner.Shown);
    EXPECT_EQ(f.Log.back(), "dblclick");
    // Without MinimizeToTray it shows the application instead.
    f.Tray->SetMinimizeToTray(false);
    f.Send({TTrayEvent::LButtonDblClk});
    EXPECT_TRUE(f.Owner.Shown);

    // The first default menu item takes the double-click over, unless the left button pops the menu up; a
    // disabled one takes it without running.
    f.Menu.Items(1).SetDefault(true);
    f.Menu.Items(2).SetDefault(true);
    f.Tray->SetMinimizeToTray(true);
    f.Log.clear();
    f.Send({TTrayEvent::LButtonDblClk});
    f.Menu.Items(1).SetEnabled(false);
    f.Send({TTrayEvent::LButtonDblClk});
    EXPECT_EQ(f.Log, (TLog{"Fenster schliessen", "dblclick", "foreground", "dblclick", "foreground"}));
    EXPECT_TRUE(f.Owner.Shown);
    f.Tray->SetPopupByLeft(true);
    f.Send({TTrayEvent::LButtonDblClk});
    EXPECT_FALSE(f.Owner.Shown);

    // Destruction takes the icon out without showing the window, and leaves no receiver and no timer.
    f.Tray->SetCycleIcons(true);
    f.Shell.Clear();
    f.Tray.reset();
    EXPECT_EQ(f.Log, TLog{"delete"});
    EXPECT_FALSE(f.Owner.Shown);
    EXPECT_FALSE(f.Shell.Callback);
    EXPECT_TRUE(f.Shell.Timers.empty());
}

TEST(TabfTrayIcon, RightReleasePopsTheMenuAtTheCursorThenPostsNullThenRaisesOnPopupMenu)
{
    TTrayFixture f;
    f.LoadLikeMainWindow();
    f.Menu.Items(0).SetVisible(false);
    f.Menu.Items(1).SetEnabled(false);
    f.Menu.Items(2).SetDefault(true);
    std::vector<TTrayMenuItem> shown;
    f.Shell.InMenu = [&](const std::vector<TTrayMenuItem>& items) {
        EXPECT_EQ(f.Menu.PopupComponent(), f.Tray.get());
        shown = items;
        return items.back().Command;
    };
    f.Shell.Clear();
    f.Send({TTrayEvent::RButtonUp});
    EXPECT_EQ(f.Log, (TLog{"foreground", "up R 16", "process messages", "foreground", "popup at 300,5",
                           "Beenden", "post WM_NULL", "OnPopupMenu"}));
    ASSERT_EQ(shown.size(), 2u) << "the hidden item is left out";
    EXPECT_EQ(shown[0].Caption, "Fenster schliessen");
    EXPECT_FALSE(shown[0].Enabled);
    EXPECT_TRUE(shown[1].Default && !shown[0].Default);
    // A disabled item and "nothing chosen" run nothing.
    for (std::uint32_t command : {shown[0].Command, 0u}) {
        f.Shell.InMenu = [command](const std::vector<TTrayMenuItem>&) { return command; };
        f.Log.clear();
        f.Send({TTrayEvent::RButtonUp});
        EXPECT_EQ(f.Log.at(5), "post WM_NULL");
    }

    // No popup without AutoPopup, nor on the left button unless PopupByLeft, nor without a menu.
    f.Menu.SetAutoPopup(false);
    f.Shell.Clear();
    f.Send({TTrayEvent::RButtonUp});
    f.Menu.SetAutoPopup(true);
    f.Send({TTrayEvent::LButtonUp});
    EXPECT_EQ(f.Log, (TLog{"foreground", "up R 16", "foreground", "up L 8"}));
    f.Tray->SetPopupByLeft(true);
    f.Send({TTrayEvent::LButtonUp});
    EXPECT_EQ(f.Log.back(), "OnPopupMenu");
    f.Tray->SetPopupMenu(nullptr);
    f.Shell.Clear();
    f.Send({TTrayEvent::RButtonUp});
    EXPECT_EQ(f.Log, (TLog{"foreground", "up R 16"}));
}

// A menu or image list that is destroyed while the icon still points at it is let go: nothing is run
// through a pointer to it afterwards, not even when the menu goes while it is open.
TEST(TabfTrayIcon, DestroyedMenuAndImageListAreLetGo)
{
    TTrayFixture f;
    auto menu = std::make_unique<TPopupMenu>();
    menu->Add("Beenden", [&](TComponent*) { f.Log.push_back("Beenden"); });
    f.Tray->SetPopupMenu(menu.get());
    f.Shell.InMenu = [&](const std::vector<TTrayMenuItem>& items) {
        menu.reset();
        return items.at(0).Command;
    };
    f.Send({TTrayEvent::RButtonUp});
    EXPECT_EQ(f.Log.back(), "OnPopupMenu");
    EXPECT_EQ(f.Log.end()[-2], "post WM_NULL") << "the chosen item of a gone menu does not run";
    EXPECT_EQ(f.Tray->PopupMenu(), nullptr);

    auto images = std::make_unique<TImageList>();
    images->Add(7);
    f.Tray->SetImageList(images.get());
    EXPECT_EQ(f.Tray->Icon(), 7u);
    images.reset();
    EXPECT_EQ(f.Tray->ImageList(), nullptr);
    // And the other way round: a list that outlives the icon tells nobody.
    TImageList kept;
    f.Tray->SetImageList(&kept);
    f.Tray.reset();
    kept.Add(8);
}

TEST(TabfTrayIcon, StartMinimisingAndNewTrayHostsPutTheIconInAndTheWindowWhereItBelongs)
{
    TTrayFixture f;
    int minimized = 0;
    f.Tray->OnMinimize = [&](TComponent*) { ++minimized; };
    f.LoadLikeMainWindow();
    EXPECT_FALSE(f.App.ShowMainForm);
    EXPECT_FALSE(f.Owner.Shown);
    EXPECT_EQ(minimized, 1);
    // The hint set before the icon existed was refused; the add carries hint and icon.
    EXPECT_EQ(f.Log, (TLog{"modify refused", "add", "add refused"}));
    EXPECT_EQ(FieldText(f.Shell.Requests.at(1).Data.szTip), "Warte auf Camera");
    EXPECT_EQ(f.Shell.Requests.at(1).Data.hIcon, kProgramIcon);

    f.Owner.ShowNormal();
    f.Tray->ApplicationMinimized();
    EXPECT_FALSE(f.Owner.Shown);
    EXPECT_EQ(minimized, 2);
    EXPECT_TRUE(f.Shell.InTray);
    // Hiding the icon brings the window back.
    f.Tray->SetVisible(false);
    EXPECT_EQ(f.Log.back(), "delete");
    EXPECT_TRUE(f.Owner.Shown);
    f.Tray->SetMinimizeToTray(false);
    f.Tray->ApplicationMinimized();
    EXPECT_EQ(minimized, 2);
    EXPECT_TRUE(f.Owner.Shown);

    // A new tray host (TaskbarCreated) and a new identifier take a visible icon out and add it again, which
    // with MinimizeToTray shows the window; a hidden icon stays out of both.
    f.Tray->SetMinimizeToTray(true);
    f.Tray->SetVisible(true);
    f.Owner.Hide();
    f.Shell.Clear();
    f.Shell.InTray = false;
    f.Shell.Post(TWindowMessage::TaskbarCreated);
    f.Tray->SetIconID(7);
    EXPECT_EQ(f.Log, (TLog{"delete refused", "add", "delete", "add"}));
    EXPECT_EQ(f.Shell.Requests[2].Data.uID, 0u);
    EXPECT_EQ(f.Shell.Requests[3].Data.uID, 7u);
    EXPECT_TRUE(f.Owner.Shown);
    f.Tray->SetVisible(false);
    f.Shell.Clear();
    f.Shell.Post(TWindowMessage::TaskbarCreated);
    f.Tray->SetIconID(8);
    EXPECT_TRUE(f.Log.empty());
}

TEST(TabfTrayIcon, ShellFailuresBecomeEabfTrayIconAndHandlerErrorsReachTheApplication)
{
    TTrayFixture f;
    using testing::StrEq;
    using testing::ThrowsMessage;
    f.Shell.FailAdd = true;
    EXPECT_THAT([&] { f.Tray->SetVisible(true); },
                ThrowsMessage<EabfTrayIcon>(StrEq("abfTrayIcon.InsertToTray failed")));
    EXPECT_TRUE(f.Tray->Visible()) << "Visible keeps what the setter stored";
    f.Shell.FailDelete = true;
    EXPECT_THAT([&] { f.Tray->SetVisible(false); },
                ThrowsMessage<EabfTrayIcon>(StrEq("abfTrayIcon.DeleteFromTray failed")));
    f.Shell.FailDelete = false;
    f.Shell.NoTimers = true;
    EXPECT_THAT([&] { f.Tray->SetCycleIcons(true); },
                ThrowsMessage<EOutOfResources>(StrEq("Nicht genügend Timer verfügbar")));

    // An exception from a click handler ends that message only.
    int clicks = 0;
    f.Tray->OnClick = [&](TComponent*) {
        if (++clicks == 1)
            throw Exception("Datei x kann nicht geöffnet werden");
    };
    f.Send({TTrayEvent::LButtonDown, TTrayEvent::LButtonUp, TTrayEvent::LButtonDown, TTrayEvent::LButtonUp});
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(f.App.Errors, TLog{"Datei x kann nicht geöffnet werden"});
}

TEST(TabfTrayIcon, CyclingStepsThroughTheImageListOnTheShellsTimerAndWraps)
{
    TTrayFixture f;
    TImageList images;
    for (TIconHandle icon : {11, 12, 13})
        images.Add(icon);
    f.Tray->SetImageList(&images);
    f.Tray->SetVisible(true);
    EXPECT_TRUE(f.Shell.Timers.empty()) << "no timer until cycling is on";
    f.Tray->SetCycleIcons(true);
    EXPECT_EQ(f.Shell.Timers, (std::map<std::uint32_t, std::uint32_t>{{1, 200}}));
    std::vector<TIconHandle> icons;
    for (int i = 0; i < 4; ++i) {
        f.Shell.Post(TWindowMessage::Timer, 1);
        icons.push_back(f.Shell.Last().Data.hIcon);
    }
    EXPECT_EQ(icons, (std::vector<TIconHandle>{12, 13, 11, 12}));
    images.Clear();
    EXPECT_EQ(f.Shell.Last().Data.hIcon, 0u) << "the list's change reaches the tray";
    f.Tray->SetCycleIcons(false);
    EXPECT_TRUE(f.Shell.Timers.empty());
}

} // namespace
