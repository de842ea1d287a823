#include "about/infobox_unit.h"
#include "app/core/ImportLog.h"
#include "tests/ui/FormFixture.h"

#include <QApplication>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

TEST(TForm1, StartsHiddenInTheTrayWithEveryControlInItsInitialState)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(f.App.ShowMainForm);
    EXPECT_TRUE(f.Shell->InTray);
    EXPECT_EQ(f.TrayTip(), "Warte auf Camera");
    EXPECT_EQ(f.Shell->Requests.at(1).Data.hIcon, f.kProgramIcon) << "the add carries the program's icon";
    EXPECT_EQ(form.windowTitle(), "Warte auf Kamera");
    EXPECT_EQ(form.minimumSize(), QSize(354, 146));
    EXPECT_EQ(form.maximumSize(), QSize(354, 146));
    EXPECT_FALSE(form.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint));
    EXPECT_TRUE(form.Timer().isActive());
    EXPECT_EQ(form.Timer().interval(), 1000);

    struct TControl
    {
        const char* Name;
        QRect Geometry;
        QString Text;
        bool Enabled;
        int Checked; // -1: not checkable
        bool NavyBold;
    };
    const TControl controls[] = {
        {"Image1", {8, 16, 100, 100}, "", true, -1, false},
        {"RadioButton1", {112, 8, 113, 17}, "Fotos kopieren", true, 1, true},
        {"RadioButton2", {112, 24, 241, 17}, "Fotos kopieren und in Kamera löschen", true, 0, true},
        {"CheckBox1", {112, 40, 241, 17}, "Wenn möglich Bilder drehen", true, 1, true},
        {"Label1", {112, 64, 233, 16}, "Kein Gerät angeschlossen", true, -1, true},
        {"ProgressBar1", {112, 82, 233, 10}, "", true, -1, false},
        {"Button2", {112, 96, 100, 25}, "Fotos kopieren", false, -1, false},
        {"infoBtn", {216, 96, 27, 25}, "", true, -1, false},
        {"Button1", {248, 96, 100, 25}, "Fenster Schliessen", true, -1, false},
        {"StatusBar1", {0, 127, 354, 19}, "", true, -1, false},
    };
    for (const TControl& c : controls) {
        SCOPED_TRACE(c.Name);
        QWidget& w = f.Get<QWidget>(c.Name);
        EXPECT_EQ(w.geometry(), c.Geometry);
        if (c.Name != std::string("ProgressBar1")) {
            EXPECT_EQ(w.property("text").toString(), c.Text);
        }
        EXPECT_EQ(w.isEnabled(), c.Enabled);
        if (c.Checked >= 0) {
            EXPECT_EQ(w.property("checked").toBool(), c.Checked == 1);
        }
        if (c.NavyBold) {
            EXPECT_TRUE(w.font().bold());
            EXPECT_EQ(w.palette().color(QPalette::WindowText), QColor(0, 0, 128));
        }
        // Nothing is cut off: every text fits its control.
        if (auto* button = qobject_cast<QAbstractButton*>(&w); button != nullptr && !c.Text.isEmpty()) {
            // A push button's hint carries generous padding; its text alone must fit inside the frame.
            const int needed = qobject_cast<QPushButton*>(&w) != nullptr
                                   ? button->fontMetrics().horizontalAdvance(button->text()) + 4
                                   : button->sizeHint().width();
            EXPECT_LE(needed, w.width());
        }
    }
    QLabel& label1 = f.Get<QLabel>("Label1");
    EXPECT_EQ(label1.font().pixelSize(), 13);
    EXPECT_LE(label1.fontMetrics().horizontalAdvance(label1.text()), label1.width());
    EXPECT_EQ(f.Get<QLabel>("Image1").pixmap().size(), QSize(100, 100));

    EXPECT_EQ(form.ProgressBar().Max(), 100);
    EXPECT_EQ(form.ProgressBar().Position(), 0);
    EXPECT_EQ(f.Get<QLabel>("StatusPanel1").width(), 150);
    const auto& panel2 = f.Get<QLabel>("StatusPanel2");
    EXPECT_GE(panel2.width(), 50);
    EXPECT_LE(panel2.fontMetrics().horizontalAdvance("999 Fotos gedreht"), panel2.contentsRect().width())
        << "the count of turned photos fits its panel";
    EXPECT_EQ(f.Text("StatusPanel1") + f.Text("StatusPanel2"), "");

    QStringList items;
    for (int i = 0; i < form.PopupMenu().Count(); ++i) {
        const TMenuItem& a = form.PopupMenu().Items(i);
        items << QString::fromStdString(a.Name() + "=" + a.Caption() + (a.Enabled() ? "" : " (disabled)"));
    }
    EXPECT_EQ(items, (QStringList{"ffnen1=Fenster öffnen", "Fensterschliessen1=Fenster schliessen",
                                  "Fotosanzeigen1=Fotos anzeigen (disabled)",
                                  "Protokollanzeigen1=Protokoll anzeigen (disabled)", "Beenden1=Beenden"}));
}

TEST(TForm1, TrayAndMenuShowAndHideTheWindow)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    f.Tray(TTrayEvent::LButtonDown);
    f.Tray(TTrayEvent::LButtonUp);
    EXPECT_TRUE(form.isVisible()) << "a click on the icon shows the window";
    EXPECT_FALSE(form.testAttribute(Qt::WA_ShowWithoutActivating))
        << "the user asked: it may take the keyboard";

    form.hide();
    f.Tray(TTrayEvent::LButtonDown);
    f.Tray(TTrayEvent::LButtonUp);
    f.Tray(TTrayEvent::LButtonDblClk);
    EXPECT_FALSE(form.isVisible()) << "a double-click shows and hides it again";

    // The menu: "Fenster öffnen" and "Fenster schliessen", chosen while the menu is open.
    f.Shell->InMenu = [](const std::vector<TTrayMenuItem>& items) { return items.at(0).Command; };
    f.Tray(TTrayEvent::RButtonDown);
    f.Tray(TTrayEvent::RButtonUp);
    EXPECT_TRUE(form.isVisible());
    f.Shell->InMenu = [](const std::vector<TTrayMenuItem>& items) { return items.at(1).Command; };
    f.Tray(TTrayEvent::RButtonDown);
    f.Tray(TTrayEvent::RButtonUp);
    EXPECT_FALSE(form.isVisible());

    // Minimising goes to the tray; the next click brings the window back in its normal state.
    form.ffnen1Click();
    form.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(f.Shell->InTray);
    f.Tray(TTrayEvent::LButtonDown);
    f.Tray(TTrayEvent::LButtonUp);
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
}

TEST(TForm1, BeendenEndsTheProgramAlsoWithTheAboutWindowOpenWhichAloneNeverDoes)
{
    TFormFixture f;
    TAboutBox about(QPixmap(), [](const QUrl&) {});
    f.Form->SetAboutBox(&about);
    bool survivedAboutClose = false;
    bool timedOut = false;
    int aboutWindows = 0;
    bool aboutOpenAtBeenden = false;

    QTimer::singleShot(0, [&] {
        f.Form->infoBtnClick();
        about.close(); // the last visible window closes; the main window is hidden
    });
    QTimer::singleShot(100, [&] {
        survivedAboutClose = true;
        f.Form->infoBtnClick();
        f.Form->infoBtnClick();
        for (QWidget* w : QApplication::topLevelWidgets())
            aboutWindows += w->objectName() == "AboutBox" && w->isVisible() ? 1 : 0;
        aboutOpenAtBeenden = about.isVisible();
        f.Shell->InMenu = [](const std::vector<TTrayMenuItem>& items) { return items.back().Command; };
        f.Tray(TTrayEvent::RButtonDown);
        f.Tray(TTrayEvent::RButtonUp);
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        QApplication::exit(3);
    });
    watchdog.start(10000);
    const int rc = QApplication::exec();
    EXPECT_EQ(rc, 0);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(survivedAboutClose);
    EXPECT_EQ(aboutWindows, 1);
    EXPECT_TRUE(aboutOpenAtBeenden);
    EXPECT_TRUE(f.Errors.empty());
}

TEST(TForm1, HandlerExceptionsAreShownAndTheWindowGoesOn)
{
    TFormFixture f;
    f.Platform->Fail = true;
    f.Form->Timer1Timer();
    EXPECT_EQ(f.Errors, (std::vector<std::string>{"Laufwerk nicht lesbar"}));
    f.Platform->Fail = false;
    f.Form->Timer1Timer();
    EXPECT_EQ(f.Errors.size(), 1u);
    EXPECT_EQ(f.Text("Label1"), "Keine Kamera gefunden");
}

TEST(TForm1, WatcherDrivesTheWindowThroughAttachTransferAndDismissal)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    form.Timer().stop();
    TExifPhoto second;
    second.Seed = 2;
    WriteFile(f.Temp / "card/DCIM/100MEDIA/IMG_0001.JPG", BuildExifJpeg({}));
    WriteFile(f.Temp / "card/DCIM/100MEDIA/IMG_0002.JPG", BuildExifJpeg(second));
    WriteFile(f.Temp / "card/DCIM/100MEDIA/notes.txt", "x");
    f.Platform->AddDrive('K', f.Temp / "card");

    // Attach: the window opens with the count.
    form.Timer1Timer();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Hole Fotos");
    EXPECT_EQ(f.TrayTip(), "Hole Fotos");
    EXPECT_EQ(f.Text("Label1"), "2 Fotos gefunden");
    EXPECT_EQ(f.Text("StatusPanel1"), "2 Fotos gefunden");
    EXPECT_TRUE(f.Get<QPushButton>("Button2").isEnabled());
    EXPECT_EQ(form.ProgressBar().Max(), 2);
    EXPECT_EQ(form.ListBox1().Count(), 2);

    // Hidden through the menu, the next tick shows it again, now without taking the keyboard.
    form.Fensterschliessen1Click();
    form.Timer1Timer();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.testAttribute(Qt::WA_ShowWithoutActivating));

    // Transfer.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(&f.Get<QPushButton>("Button2"), Qt::LeftButton);
    ASSERT_TRUE(f.WaitForRun());
    EXPECT_TRUE(PathExists(f.Temp / "docs/Eigene Bilder/20050714/IMG_0001.JPG"));
    EXPECT_TRUE(PathExists(f.Temp / "docs/Eigene Bilder/20050714/IMG_0002.JPG"));
    EXPECT_TRUE(PathExists(f.Temp / "card/DCIM/100MEDIA/IMG_0001.JPG"))
        << "copy mode keeps the card as it was";
    EXPECT_EQ(form.windowTitle(), "1 Dateien bleiben auf der Karte") << "notes.txt is no photo";
    EXPECT_EQ(f.TrayTip(), "Fotos übertragen");
    EXPECT_EQ(f.Text("Label1"), "Übertragung beendet");
    EXPECT_EQ(f.Text("StatusPanel1"), "2 Fotos kopiert");
    EXPECT_EQ(form.ProgressBar().Position(), 2);
    EXPECT_EQ(f.Text("CheckBox1"), "Auto-Drehen wird nicht unterstützt");
    EXPECT_FALSE(f.Get<QCheckBox>("CheckBox1").isEnabled());
    EXPECT_FALSE(f.Get<QPushButton>("Button2").isEnabled());
    EXPECT_FALSE(form.Timer().isActive());
    EXPECT_TRUE(form.PopupMenu().Items(form.PopupMenu().Count() - 1).Enabled());

    // "Fenster Schliessen": hidden, re-armed, check box restored; the card stays and nothing changes until it
    // has gone.
    QTest::mouseClick(&f.Get<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.Timer().isActive());
    EXPECT_EQ(form.ProgressBar().Position(), 0);
    EXPECT_EQ(f.Text("CheckBox1"), "Wenn möglich Bilder drehen");
    EXPECT_TRUE(f.Get<QCheckBox>("CheckBox1").isEnabled());
    form.Timer().stop();
    form.Timer1Timer();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(f.Text("Label1"), "Warte auf Fotos...");
    f.Platform->RemoveDrive('K');
    form.Timer1Timer();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Warte auf Kamera");
    EXPECT_EQ(f.TrayTip(), "Warte auf Kamera");
    EXPECT_EQ(f.Text("Label1"), "Keine Kamera gefunden");
    EXPECT_EQ(f.Text("StatusPanel1"), "Keine Kamera gefunden");
    EXPECT_EQ(f.Text("StatusPanel2"), "");
    EXPECT_TRUE(f.Errors.empty());
}

// After a run the message and "Fotos anzeigen" open the day folder, the status bar and "Protokoll anzeigen"
// the log, which says why a file stays on the card; a desktop that cannot open them is told.
TEST(TForm1, AfterARunTheWindowAndTheTrayMenuOpenThePhotosAndTheLog)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    form.Timer().stop();
    std::vector<QUrl> opened;
    form.SetOpenUrl([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    WriteFile(f.Temp / "card/DCIM/100MEDIA/IMG_0001.JPG", BuildExifJpeg({}));
    WriteFile(f.Temp / "card/DCIM/100MEDIA/MVI_0002.MP4", "x");
    f.Platform->AddDrive('K', f.Temp / "card");
    const QUrl day = QUrl::fromLocalFile(QString::fromStdString(f.Temp / "docs/Eigene Bilder/20050714"));
    const QUrl log = QUrl::fromLocalFile(QString::fromStdString(TImportLog(*f.Platform).Path()));
    const auto choose = [&](const char* caption) {
        f.Shell->InMenu = [caption](const std::vector<TTrayMenuItem>& items) {
            for (const TTrayMenuItem& item : items)
                if (item.Caption == caption)
                    return item.Enabled ? item.Command : 0u;
            return 0u;
        };
        f.Tray(TTrayEvent::RButtonDown);
        f.Tray(TTrayEvent::RButtonUp);
    };
    form.Timer1Timer();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto& label1 = f.Get<QLabel>("Label1");
    auto& panel1 = f.Get<QLabel>("StatusPanel1");
    QTest::mouseClick(&label1, Qt::LeftButton);
    choose("Fotos anzeigen");
    EXPECT_TRUE(opened.empty()) << "nothing to open before a run";

    QTest::mouseClick(&f.Get<QPushButton>("Button2"), Qt::LeftButton);
    ASSERT_TRUE(f.WaitForRun());
    ASSERT_EQ(form.windowTitle(), "1 Dateien bleiben auf der Karte");
    EXPECT_TRUE(label1.font().underline());
    EXPECT_EQ(label1.cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(label1.toolTip(), "Fotos anzeigen");
    EXPECT_EQ(panel1.toolTip(), "Protokoll anzeigen");
    QTest::mouseClick(&label1, Qt::LeftButton);
    QTest::mouseClick(&panel1, Qt::LeftButton);
    choose("Fotos anzeigen");
    choose("Protokoll anzeigen");
    EXPECT_EQ(opened, (std::vector<QUrl>{day, log, day, log}));

    form.SetOpenUrl([](const QUrl&) { return false; });
    form.Protokollanzeigen1Click();
    EXPECT_EQ(f.Errors,
              std::vector<std::string>{"Kann nicht geöffnet werden: " + TImportLog(*f.Platform).Path()});

    // "Fenster Schliessen": the links go with the run's end, the menu keeps its items.
    QTest::mouseClick(&f.Get<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_FALSE(label1.font().underline());
    EXPECT_TRUE(label1.toolTip().isEmpty());
    EXPECT_TRUE(form.PopupMenu().Items(2).Enabled() && form.PopupMenu().Items(3).Enabled());
}

TEST(TProgressBar, AnEmptyCardShowsAnEmptyBarNotABusyOne)
{
    TProgressBar bar;
    bar.SetMax(0);
    EXPECT_EQ(bar.Max(), 0);
    EXPECT_GT(bar.maximum(), bar.minimum()) << "a range of 0..0 would animate";
    EXPECT_EQ(bar.value(), 0);
    bar.SetMax(3);
    bar.SetPosition(5);
    EXPECT_EQ(bar.Position(), 3);
    EXPECT_EQ(bar.value(), 3);
    bar.SetMax(1);
    EXPECT_EQ(bar.Position(), 1);
}

} // namespace
