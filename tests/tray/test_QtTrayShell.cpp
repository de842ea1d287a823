#include "tray/QtTrayShell.h"
#include "tray/abfComponents.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <string>
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
    tray.LoadIcon(QIcon(pixmap));
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

} // namespace
