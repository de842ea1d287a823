#include "app/core/WindowTexts.h"
#include "tests/ui/FormFixture.h"

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QLabel>

#include <gtest/gtest.h>

#include <algorithm>
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

// Every text of the window and its menu, taken from the window's one list of texts, fits its control whole:
// nothing is cut at either end. The test runs once as it is (scale 1) and once more under QT_SCALE_FACTOR=2,
// where glyphs are laid out for twice as many device pixels.
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
        std::string text = (entry.Counted ? std::string(kWidestCount) : std::string()) + entry.Text;
        if (entry.Second != nullptr)
            text += std::string(kWidestCount) + entry.Second;
        const QString shown = QString::fromUtf8(text.c_str());
        SCOPED_TRACE(text);
        TWindowState state;
        const char* name = nullptr;
        switch (entry.Control) {
        case TWindowControl::Message:
            state.Message = text;
            name = "Label1";
            break;
        case TWindowControl::Panel1:
            state.Panel1 = text;
            name = "StatusPanel1";
            break;
        case TWindowControl::Panel2:
            state.Panel2 = text;
            name = "StatusPanel2";
            break;
        case TWindowControl::TurnOption:
            state.TurnCaption = text;
            name = "CheckBox1";
            break;
        case TWindowControl::CopyOption:
        case TWindowControl::MoveOption:
        case TWindowControl::DismissCommand:
        case TWindowControl::TransferCommand:
            name = entry.Control == TWindowControl::CopyOption       ? "RadioButton1"
                   : entry.Control == TWindowControl::MoveOption     ? "RadioButton2"
                   : entry.Control == TWindowControl::DismissCommand ? "Button1"
                                                                     : "Button2";
            break;
        case TWindowControl::MenuCommand: {
            // A menu is as wide as its longest item: the items are the listed texts.
            const auto items = form.PopupMenu().ShellItems();
            EXPECT_TRUE(std::any_of(items.begin(), items.end(),
                                    [&](const auto& item) { return item.Caption == text; }));
            continue;
        }
        case TWindowControl::NotificationTitle:
        case TWindowControl::NotificationText:
            // A desktop's notification banner shows each in one line and is about as wide as the window.
            EXPECT_LE(QFontMetricsF(form.font(), &form).horizontalAdvance(shown), form.width());
            ++checked;
            continue;
        case TWindowControl::Caption:
        case TWindowControl::TrayHint:
            continue;
        }
        form.Render(state);
        QApplication::processEvents(); // the status bar lays its panels out again
        QWidget& control = f.Get<QWidget>(name);
        ASSERT_EQ(control.property("text").toString(), shown);
        if (const auto* button = qobject_cast<QAbstractButton*>(&control)) {
            EXPECT_LE(button->sizeHint().width(), button->width()) << name << " " << button->width() << " px";
            EXPECT_LE(QFontMetricsF(button->font(), button).height(), button->height());
        } else {
            const auto& label = static_cast<QLabel&>(control);
            const QRect room = label.contentsRect();
            const double needed = NeededWidth(label, shown);
            EXPECT_LE(needed, room.width()) << name << ": " << needed << " of " << room.width() << " px";
            EXPECT_LE(QFontMetricsF(label.font(), &label).height(), room.height() + 1.0) << name;
            EXPECT_GE(room.left(), 0);
            EXPECT_LE(label.geometry().right(), form.width() - 1) << "inside the window";
        }
        ++checked;
    }
    EXPECT_GE(checked, 22) << "the list names the texts of all eight controls";
}

} // namespace
