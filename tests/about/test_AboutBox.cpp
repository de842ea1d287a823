#include "about/infobox_unit.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

int VisibleAboutWindows()
{
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "AboutBox" && w->isVisible())
            ++count;
    return count;
}

TEST(TAboutBox, ShowsItsTextsAndOpensBothLinksThroughTheSeam)
{
    std::vector<QUrl> opened;
    QPixmap picture(100, 100);
    picture.fill(Qt::gray);
    TAboutBox box(picture, [&](const QUrl& url) { opened.push_back(url); });

    EXPECT_EQ(box.windowTitle(), "Info");
    EXPECT_EQ(box.maximumSize(), QSize(298, 212));
    EXPECT_EQ(box.minimumSize(), QSize(298, 212));
    EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(box.isModal() || box.isVisible());

    auto* memo = box.findChild<QPlainTextEdit*>("Memo1");
    ASSERT_NE(memo, nullptr);
    const QStringList lines = memo->toPlainText().split('\n');
    EXPECT_EQ(lines,
              (QStringList{"Vielen Dank, dass Sie dieses ", "Programm testen und nutzen. ",
                           "Ich würde mich über ", "Anregungen und ", "Verbesserungsvorschläge ",
                           "freuen. Die Nutzung dieses ", "Programmes geschieht auf ", "eigenes Risiko. "}));
    auto* ok = box.findChild<QPushButton*>("OKButton");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());

    // The links show the addresses and open them with their schemes.
    auto* web = box.findChild<QLabel*>("Label1");
    auto* mail = box.findChild<QLabel*>("Label2");
    ASSERT_TRUE(web && mail);
    EXPECT_FALSE(web->text().contains("://"));
    box.ShowAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(web, Qt::LeftButton);
    QTest::mouseClick(mail, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl("http://" + web->text()));
    EXPECT_EQ(opened[1].scheme(), "mailto");
    EXPECT_EQ(opened[1].path(), mail->text());
    EXPECT_TRUE(opened[1].query().startsWith("subject="));

    // Every text fits its control.
    for (QLabel* label : box.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << label->objectName().toStdString();
        }
    }
    box.hide();
}

TEST(TAboutBox, StaysOneWindowThatOkAndCloseOnlyHide)
{
    TAboutBox box(QPixmap(), [](const QUrl&) {});
    box.ShowAbout();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((box.frameGeometry().center() - screen.center()).manhattanLength(), 10) << "centred";

    // Showing it again while shown keeps the one window where it is.
    box.move(box.pos() + QPoint(30, 20));
    const QPoint moved = box.pos();
    box.ShowAbout();
    box.ShowAbout();
    EXPECT_EQ(VisibleAboutWindows(), 1);
    EXPECT_EQ(box.pos(), moved);

    QTest::mouseClick(box.findChild<QPushButton*>("OKButton"), Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());
    box.ShowAbout();
    EXPECT_TRUE(box.isVisible());
    EXPECT_TRUE(box.close());
    EXPECT_FALSE(box.isVisible());
    box.ShowAbout();
    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(VisibleAboutWindows(), 0);
}

} // namespace
