#include "app/ui/Startup.h"
#include "tests/ui/FormFixture.h"

#include <QCloseEvent>
#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

/// The window manager's close (its close button, Alt+F4): a close event from outside the program.
bool CloseFromWindowManager(QWidget& window)
{
    QCloseEvent event;
    QSpontaneKeyEvent::setSpontaneous(&event);
    QApplication::instance()->notify(&window, &event);
    return event.isAccepted();
}

/// Runs step inside the event loop and returns the loop's exit code: 7 when the program was still running
/// 200 ms later, 0 when the step ended it. The 200 ms timer lives only as long as the call.
int RunInEventLoop(const std::function<void()>& step)
{
    QTimer::singleShot(0, step);
    const QObject call;
    QTimer::singleShot(200, &call, [] { QApplication::exit(7); });
    return QApplication::exec();
}

/// A card at letter K holding photos named a.jpg, b.jpg, … of one day.
void AddCard(TFormFixture& f, int photos, const std::string& folder = "card")
{
    for (int i = 0; i < photos; ++i) {
        TExifPhoto photo;
        photo.Seed = static_cast<unsigned>(i + 1);
        WriteFile(f.Temp / (folder + "/DCIM/100TEST/" + std::string(1, static_cast<char>('a' + i)) + ".jpg"),
                  BuildExifJpeg(photo));
    }
    f.Platform->AddDrive('K', f.Temp / folder);
}

TEST(TForm1, DesktopsCloseHidesIntoTheTrayAndOnlyAQuitEndsTheProgram)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    form.Timer().stop();
    form.ffnen1Click();
    bool accepted = true;
    const int rc = RunInEventLoop([&] { accepted = CloseFromWindowManager(form); });
    EXPECT_EQ(rc, 7) << "the program goes on";
    EXPECT_FALSE(accepted);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(f.Shell->InTray) << "the icon stays";

    // Qt's Wayland plugin hands the compositor's close on as a close from within: the window goes, the
    // program stays. Asked to quit with the window open, as at the end of the session: the program ends.
    form.ffnen1Click();
    EXPECT_EQ(RunInEventLoop([&] { form.close(); }), 7);
    EXPECT_FALSE(form.isVisible());
    form.ffnen1Click();
    EXPECT_EQ(RunInEventLoop([] { QCoreApplication::quit(); }), 0);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(f.Errors.empty());
}

// After a finished run, hiding the window in any way re-arms the watcher as "Fenster Schliessen" does.
TEST(TForm1, HidingAFinishedWindowInAnyWayReArmsTheWatcher)
{
    const std::vector<std::pair<const char*, std::function<void(TFormFixture&)>>> ways = {
        {"tray menu", [](TFormFixture& f) { f.Form->Fensterschliessen1Click(); }},
        {"window manager's close", [](TFormFixture& f) { CloseFromWindowManager(*f.Form); }},
        {"minimised", [](TFormFixture& f) { f.Form->setWindowState(Qt::WindowMinimized); }},
        {"tray double-click", [](TFormFixture& f) { f.Tray(TTrayEvent::LButtonDblClk); }},
    };
    for (const auto& [name, hide] : ways) {
        SCOPED_TRACE(name);
        TFormFixture f;
        TForm1& form = *f.Form;
        form.Timer().stop();
        AddCard(f, 1);
        form.Timer1Timer();
        form.Button2Click();
        ASSERT_TRUE(f.WaitForRun());
        ASSERT_EQ(f.Text("Label1"), "Übertragung beendet");
        ASSERT_FALSE(form.Timer().isActive());
        ASSERT_TRUE(form.isVisible());

        hide(f);
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(form.Timer().isActive()) << "the watcher runs again";
        EXPECT_EQ(f.Text("Label1"), "Warte auf Fotos...");
        EXPECT_TRUE(f.Errors.empty());
    }
}

// A desktop without a tray: the window shows at start and is minimised wherever it would be hidden, so it
// stays in the task list. A tray that comes later takes over.
TEST(TForm1, WithoutATrayTheWindowShowsAndMinimisesUntilATrayComes)
{
    TFormFixture f(false);
    TForm1& form = *f.Form;
    form.Timer().stop();
    EXPECT_TRUE(form.isVisible()) << "shown at start";
    EXPECT_FALSE(form.isMinimized());
    EXPECT_FALSE(form.TrayIcon().MinimizeToTray());

    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Fenster Schliessen", [&] { QTest::mouseClick(&f.Get<QPushButton>("Button1"), Qt::LeftButton); }},
        {"menu", [&] { form.Fensterschliessen1Click(); }},
        {"window manager's close", [&] { EXPECT_FALSE(CloseFromWindowManager(form)); }},
        {"minimise", [&] { form.setWindowState(Qt::WindowMinimized); }},
    };
    for (const auto& [name, hide] : ways) {
        SCOPED_TRACE(name);
        form.ShowForm();
        ASSERT_FALSE(form.isMinimized());
        hide();
        EXPECT_TRUE(form.isVisible()) << "still in the task list";
        EXPECT_TRUE(form.isMinimized());
    }
    // A tray comes: what waited minimised goes into it, and the icon's rules hold from now on.
    form.showMinimized();
    f.Shell->Available = true;
    form.CheckTray();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.TrayIcon().MinimizeToTray());
    f.Tray(TTrayEvent::LButtonDown);
    f.Tray(TTrayEvent::LButtonUp);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
    form.Fensterschliessen1Click();
    EXPECT_FALSE(form.isVisible());

    // The tray goes away again: the hidden window must not vanish with it.
    f.Shell->Available = false;
    form.CheckTray();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isMinimized());
    EXPECT_FALSE(form.TrayIcon().MinimizeToTray());
    EXPECT_TRUE(f.Errors.empty());
}

// Without a tray the window is the program's only handle: Ctrl+Q and "Beenden" in its own context menu end
// the program. With a tray, whose menu has "Beenden", the window offers neither.
TEST(TForm1, WithoutATrayTheWindowItselfEndsTheProgram)
{
    for (const bool tray : {true, false}) {
        SCOPED_TRACE(tray ? "tray" : "no tray");
        TFormFixture f(tray);
        TForm1& form = *f.Form;
        form.Timer().stop();
        form.ShowForm();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        EXPECT_EQ(form.QuitAction().isEnabled(), !tray);
        EXPECT_EQ(form.contextMenuPolicy() == Qt::ActionsContextMenu, !tray);
        EXPECT_TRUE(form.actions().contains(&form.QuitAction()));
        EXPECT_EQ(form.QuitAction().text(), "Beenden");
        EXPECT_EQ(RunInEventLoop([&] { QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier); }),
                  tray ? 7 : 0);
        if (!tray) {
            // A tray that comes takes "Beenden" over.
            f.Shell->Available = true;
            form.CheckTray();
            EXPECT_FALSE(form.QuitAction().isEnabled());
        }
    }
}

TEST(TForm1, VolumeOpenedWithTheProgramIsShownAtOnceAndOneOpenedDuringARunWaitsForItsEnd)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    form.Timer().stop();
    // Neither card is at a drive letter: the desktop names them.
    for (const char* name : {"a", "b", "c"}) {
        TExifPhoto photo;
        photo.Seed = static_cast<unsigned>(name[0]);
        WriteFile(f.Temp / (std::string("first/DCIM/") + name + ".jpg"), BuildExifJpeg(photo));
    }
    WriteFile(f.Temp / "second/DCIM/x.jpg", BuildExifJpeg({}));

    form.OpenVolume(QString::fromStdString(f.Temp / "first"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Hole Fotos");
    EXPECT_EQ(f.Text("Label1"), "3 Fotos gefunden");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    // The run has not ended before the window's thread has taken in its end.
    QTest::mouseClick(&f.Get<QPushButton>("Button2"), Qt::LeftButton);
    ASSERT_TRUE(form.Watcher().Running());
    form.OpenVolume(QString::fromStdString(f.Temp / "second"));
    EXPECT_EQ(form.Watcher().CameraPath(), f.Temp / "first/DCIM") << "the run goes on undisturbed";
    QTest::mouseClick(&f.Get<QRadioButton>("RadioButton2"), Qt::LeftButton);
    EXPECT_FALSE(f.Get<QRadioButton>("RadioButton2").isChecked())
        << "the controls take no input during a run";
    ASSERT_TRUE(f.WaitForRun());
    EXPECT_EQ(form.Watcher().RunCounts().Transferred, 3) << "the first card's photos";
    EXPECT_EQ(f.Text("Label1"), "1 Fotos gefunden") << "then the second card";
    EXPECT_EQ(form.Watcher().CameraPath(), f.Temp / "second/DCIM");
    EXPECT_TRUE(f.Get<QPushButton>("Button2").isEnabled());
    EXPECT_TRUE(form.Timer().isActive());

    // A folder that is no card only shows the window.
    form.hide();
    form.OpenVolume(QString::fromStdString(f.Temp / "docs"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Watcher().CameraPath(), f.Temp / "second/DCIM");
    EXPECT_TRUE(f.Errors.empty());
}

TEST(VolumeArguments, FoldersAndFileUrlsBecomeAbsoluteFolderPaths)
{
    const QString cwd = QDir::currentPath();
    const struct
    {
        const char* Argument;
        QString Expected; // empty: left out
    } cases[] = {
        {"/media/user/CARD", "/media/user/CARD"},
        {"/media/user/CARD/", "/media/user/CARD"},
        {"file:///media/user/CARD", "/media/user/CARD"},
        {"file:///media/user/EOS%20DIGITAL", "/media/user/EOS DIGITAL"},
        {"file:///run/media/user/%C3%9Cbung", "/run/media/user/Übung"},
        {"card", cwd + "/card"},
        {"./a/../card", cwd + "/card"},
        {"/media/user/a:b", "/media/user/a:b"},
        {"mtp://Phone/Internal", ""},
        {"http://example.org/DCIM", ""},
        {"file://otherhost/share", ""},
        {"file://localhost/media/user/CARD", "/media/user/CARD"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Argument);
        const QStringList result = VolumeArguments({QString::fromUtf8(c.Argument)});
        EXPECT_EQ(result, c.Expected.isEmpty() ? QStringList() : QStringList{c.Expected});
    }
}

} // namespace
