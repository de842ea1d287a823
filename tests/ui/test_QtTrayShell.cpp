#include "app/ui/Application.h"
#include "app/ui/QtTrayShell.h"
#include "tray/abfComponents.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using TLog = std::vector<std::string>;

/// Runs step on the popup menu once it is open (the menu's own loop runs the timers), for at most 2 s.
void WhenMenuOpens(const std::function<void(QMenu&)>& step, int attempts = 200)
{
    QTimer::singleShot(10, [step, attempts] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            step(*menu);
        else if (attempts > 0)
            WhenMenuOpens(step, attempts - 1);
        else
            ADD_FAILURE() << "no menu opened";
    });
}

// The component over the Qt shell: the icon from the shell's registry, the hint as the tool tip, and the
// menu as a QMenu of its lines whose chosen item runs once the menu has closed.
TEST(TQtTrayShell, ShowsTheComponentsIconHintAndMenu)
{
    QWidget owner;
    TQtTrayShell shell(&owner);
    TApplicationHost app;
    TQtTrayWindow ownerWindow(&owner);
    auto tray = std::make_unique<TabfTrayIcon>(&ownerWindow, shell, app);
    TLog events;
    tray->OnPopupMenu = [&](TComponent*) { events.push_back("popup"); };
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkGray);
    const QIcon icon(pixmap);
    tray->LoadFormIcon(shell.AddIcon(icon));
    tray->SetHint("Übertragung beendet");
    tray->SetVisible(true);
    EXPECT_TRUE(shell.TrayIcon().isVisible());
    EXPECT_EQ(shell.TrayIcon().toolTip(), "Übertragung beendet");
    EXPECT_EQ(shell.TrayIcon().icon().cacheKey(), icon.cacheKey());

    TPopupMenu menu;
    menu.Add("Fenster öffnen").SetDefault(true);
    menu.Add("Aus").SetEnabled(false);
    menu.Add("Beenden", [&](TComponent*) { events.push_back("Beenden"); });
    tray->SetPopupMenu(&menu);
    // No D-Bus tray here: the menu is not exported, as Qt would pop an exported menu up itself on the
    // XEmbed tray, beside the component's popup below.
    shell.ExportMenu(menu.ShellItems());
    EXPECT_FALSE(shell.MenuExported());
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Up}) {
        events.clear();
        QStringList shown;
        WhenMenuOpens([&](QMenu& popup) {
            for (const QAction* a : popup.actions())
                shown << a->text() + (a->isEnabled() ? "" : " (disabled)") +
                             (a == popup.defaultAction() ? " (default)" : "");
            QTest::keyClick(&popup, key);
            if (key == Qt::Key_Up)
                QTest::keyClick(&popup, Qt::Key_Return);
        });
        emit shell.TrayIcon().activated(QSystemTrayIcon::Context);
        EXPECT_EQ(shown, (QStringList{"Fenster öffnen (default)", "Aus (disabled)", "Beenden"}));
        EXPECT_EQ(events, (key == Qt::Key_Up ? TLog{"Beenden", "popup"} : TLog{"popup"}));
    }

    // An icon the component did not add, and then no component at all: nothing is reported.
    tray->SetVisible(false);
    EXPECT_FALSE(shell.TrayIcon().isVisible());
    TNotifyIconData data;
    data.uFlags = nifMessage;
    data.uCallbackMessage = 0x04D3;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimAdd, data));
    tray.reset();
    events.clear();
    emit shell.TrayIcon().activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(events.empty());
}

TEST(TQtTrayShell, ReportsToTheRegisteredCallbackWithTheRecordsMessageAndIdentifier)
{
    TQtTrayShell shell;
    using TCall = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t>;
    std::vector<TCall> calls;
    shell.SetCallback([&](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        calls.emplace_back(message, wParam, lParam);
        return std::intptr_t{0};
    });
    TNotifyIconData data;
    data.uID = 7;
    data.uFlags = nifMessage | nifTip;
    data.uCallbackMessage = 0x8001;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimAdd, data));

    for (const auto reason :
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
          QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
        emit shell.TrayIcon().activated(reason);
    emit shell.TrayIcon().messageClicked();
    const auto tray = [](std::intptr_t event) { return TCall(0x8001, 7, event); };
    EXPECT_EQ(calls, (std::vector<TCall>{tray(0x201), tray(0x202), tray(0x203), tray(0x204), tray(0x205),
                                         tray(0x207), tray(0x208), tray(0x405)}));

    // The hidden window's timer comes as the timer message with its identifier, until it is killed.
    calls.clear();
    ASSERT_TRUE(shell.SetTimer(1, 1));
    QTRY_VERIFY(!calls.empty());
    EXPECT_EQ(calls.front(), TCall(0x0113, 1, 0));
    shell.KillTimer(1);
    calls.clear();
    QTest::qWait(20);
    EXPECT_TRUE(calls.empty());

    // Requests for another icon are refused; an icon added without a callback message reports nothing.
    data.uID = 8;
    EXPECT_FALSE(shell.NotifyIcon(TNotifyIconMessage::nimModify, data));
    EXPECT_FALSE(shell.NotifyIcon(TNotifyIconMessage::nimDelete, data));
    data.uID = 7;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimDelete, data));
    data.uFlags = nifTip;
    ASSERT_TRUE(shell.NotifyIcon(TNotifyIconMessage::nimAdd, data));
    emit shell.TrayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(calls.empty());
}

} // namespace
