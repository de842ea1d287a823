#include "tray/QtTrayShell.h"
#include "tray/abfComponents.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(TQtTrayShell, QtActivationsArriveAsTheClicksTheyStandFor)
{
    TQtTrayShell shell;
    TApplicationHost app;
    QWidget owner;
    TabfTrayIcon tray(&owner, shell, app);
    std::vector<std::string> events;
    tray.OnMouseDown = [&](QObject*, TMouseButton b, TShiftState, int, int) {
        events.push_back(b == TMouseButton::mbLeft    ? "down L"
                         : b == TMouseButton::mbRight ? "down R"
                                                      : "down M");
    };
    tray.OnClick = [&](QObject*) { events.push_back("click"); };
    tray.OnDblClick = [&](QObject*) { events.push_back("dblclick"); };
    tray.OnPopupMenu = [&](QObject*) { events.push_back("popup"); };

    // Before the icon is added the shell has nowhere to send anything.
    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(events.empty());

    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkGray);
    tray.LoadFormIcon(QIcon(pixmap));
    tray.SetHint("Warte auf Camera");
    tray.SetVisible(true);
    EXPECT_TRUE(shell.Added());
    EXPECT_EQ(shell.TrayIcon().toolTip(), "Warte auf Camera");
    EXPECT_FALSE(shell.TrayIcon().icon().isNull());
    tray.SetHint("Hole Fotos");
    EXPECT_EQ(shell.TrayIcon().toolTip(), "Hole Fotos");

    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    emit shell.TrayIcon().activated(QSystemTrayIcon::DoubleClick);
    emit shell.TrayIcon().activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(events, (std::vector<std::string>{"down L", "click", "dblclick", "down M"}));

    // The right button pops the menu up; its nested loop ends when the menu is closed.
    TPopupMenu menu;
    menu.addAction("Beenden");
    tray.SetPopupMenu(&menu);
    events.clear();
    QObject::connect(&menu, &QMenu::aboutToShow,
                     [&] { QMetaObject::invokeMethod(&menu, &QMenu::close, Qt::QueuedConnection); });
    emit shell.TrayIcon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(events, (std::vector<std::string>{"down R", "popup"}));

    tray.SetVisible(false);
    EXPECT_FALSE(shell.Added());
    EXPECT_FALSE(shell.TrayIcon().isVisible());
    events.clear();
    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(events.empty());
}

TEST(TQtTrayShell, ReportsToTheRegisteredCallbackWithTheRecordsMessageAndIdentifier)
{
    TQtTrayShell shell;
    using TCall = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>;
    std::vector<TCall> calls;
    shell.SetCallback([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        calls.emplace_back(message, wParam, lParam);
    });
    TNotifyIconData data;
    data.uID = 7;
    data.uFlags = nifMessage | nifTip;
    data.uCallbackMessage = 0x8001;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimAdd, data));

    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    emit shell.TrayIcon().activated(QSystemTrayIcon::DoubleClick);
    emit shell.TrayIcon().activated(QSystemTrayIcon::Context);
    emit shell.TrayIcon().activated(QSystemTrayIcon::MiddleClick);
    emit shell.TrayIcon().activated(QSystemTrayIcon::Unknown);
    emit shell.TrayIcon().messageClicked();
    EXPECT_EQ(calls, (std::vector<TCall>{{0x8001, 7, 0x201},
                                         {0x8001, 7, 0x202},
                                         {0x8001, 7, 0x203},
                                         {0x8001, 7, 0x204},
                                         {0x8001, 7, 0x205},
                                         {0x8001, 7, 0x207},
                                         {0x8001, 7, 0x208},
                                         {0x8001, 7, 0x405}}));

    // Requests for another icon are refused; an icon added without a callback message reports nothing.
    data.uID = 8;
    EXPECT_FALSE(shell.NotifyIcon(TNotifyIconMessage::nimModify, data));
    EXPECT_FALSE(shell.NotifyIcon(TNotifyIconMessage::nimDelete, data));
    data.uID = 7;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimDelete, data));
    data.uFlags = nifTip;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimAdd, data));
    calls.clear();
    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(calls.empty());
}

TEST(TQtTrayShell, AGoneTrayIconReceivesNothing)
{
    TQtTrayShell shell;
    QWidget owner;
    int clicks = 0;
    {
        TApplicationHost app;
        TabfTrayIcon tray(&owner, shell, app);
        tray.OnClick = [&](QObject*) { ++clicks; };
        tray.SetVisible(true);
        emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
        ASSERT_EQ(clicks, 1);
        // Leaving the tray this way keeps the shell's icon: only the component goes.
        tray.SetVisible(false);
        TNotifyIconData data;
        data.uFlags = nifMessage;
        data.uCallbackMessage = 0x04D3;
        ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimAdd, data));
    }
    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    emit shell.TrayIcon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(clicks, 1);
}

} // namespace
