#include "app/core/WindowTexts.h"
#include "tests/ui/FormFixture.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

/// The widest count a card can plausibly bring: five digits.
constexpr const char* kWidestCount = "88888";

/// The width the text needs in a label: its advance, or its ink where a glyph reaches beyond it.
double NeededWidth(const QLabel& label, const QString& text)
{
    const QFontMetricsF metrics(label.font(), &label);
    const QRectF ink = metrics.boundingRect(text);
    return std::max(metrics.horizontalAdvance(text), ink.right() - std::min(0.0, ink.left()));
}

// Every text that Label1, the two status panels and CheckBox1 can show, taken from the window's one list of
// texts, fits its control whole: nothing is cut at either end. The test runs once as it is (scale 1) and
// once more under QT_SCALE_FACTOR=2, where glyphs are laid out for twice as many device pixels.
TEST(TWindowTexts, EveryTextFitsItsControl)
{
    TFormFixture f;
    TForm1& form = *f.Form;
    form.Timer().stop();
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const char* scale = std::getenv("QT_SCALE_FACTOR");
    EXPECT_DOUBLE_EQ(form.devicePixelRatioF(), scale != nullptr ? std::atof(scale) : 1.0);

    int checked = 0;
    for (const TWindowText& entry : WindowTexts()) {
        const std::string text = (entry.Counted ? std::string(kWidestCount) : std::string()) + entry.Text;
        const QString shown = QString::fromUtf8(text.c_str());
        SCOPED_TRACE(text);
        QWidget* control = nullptr;
        switch (entry.Control) {
        case TWindowControl::Label1:
            form.SetLabel1(text);
            control = &f.Get<QLabel>("Label1");
            break;
        case TWindowControl::StatusPanel1:
            form.SetStatusPanel(0, text);
            control = &f.Get<QLabel>("StatusPanel1");
            break;
        case TWindowControl::StatusPanel2:
            form.SetStatusPanel(1, text);
            control = &f.Get<QLabel>("StatusPanel2");
            break;
        case TWindowControl::CheckBox1:
            form.SetCheckBox1(text, true);
            control = &f.Get<QCheckBox>("CheckBox1");
            break;
        case TWindowControl::Caption:
        case TWindowControl::TrayHint:
            continue;
        }
        QApplication::processEvents(); // the status bar lays its panels out again
        ASSERT_EQ(control->property("text").toString(), shown);
        if (const auto* box = qobject_cast<QCheckBox*>(control)) {
            EXPECT_LE(box->sizeHint().width(), box->width()) << "check box " << box->width() << " px";
            EXPECT_LE(QFontMetricsF(box->font(), box).height(), box->height());
        } else {
            const auto* label = static_cast<QLabel*>(control);
            const QRect room = label->contentsRect();
            const double needed = NeededWidth(*label, shown);
            EXPECT_LE(needed, room.width())
                << label->objectName().toStdString() << ": " << needed << " of " << room.width() << " px";
            EXPECT_LE(QFontMetricsF(label->font(), label).height(), room.height() + 1.0)
                << label->objectName().toStdString();
            EXPECT_GE(room.left(), 0);
            EXPECT_LE(label->geometry().right(), form.width() - 1) << "inside the window";
        }
        ++checked;
    }
    EXPECT_GE(checked, 17) << "the list names the texts of all four controls";
}

} // namespace
