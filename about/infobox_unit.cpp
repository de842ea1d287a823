#include "about/infobox_unit.h"

#include "about/AboutInfo.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>

#include <utility>

namespace {

const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);

/// The thank-you text, line by line; every line ends with one blank.
const char* const kMemoLines[] = {
    "Vielen Dank, dass Sie dieses ", "Programm testen und nutzen. ",
    "Ich würde mich über ",          "Anregungen und ",
    "Verbesserungsvorschläge ",      "freuen. Die Nutzung dieses ",
    "Programmes geschieht auf ",     "eigenes Risiko. ",
};

void SetTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

} // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        OnClick();
}

TAboutBox::TAboutBox(const QPixmap& picture, TOpenUrl openUrl, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
    , FOpenUrl(std::move(openUrl))
{
    setObjectName("AboutBox");
    setWindowTitle("Info");
    setFixedSize(298, 212);
    setModal(false);
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    setFont(font);

    Panel1.setObjectName("Panel1");
    Panel1.setGeometry(8, 8, 281, 161);
    // Lowered outside, raised inside: an etched frame around the panel.
    Panel1.setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1.setLineWidth(1);
    Panel1.setMidLineWidth(0);
    Panel1.setAutoFillBackground(true);
    Panel1.setBackgroundRole(QPalette::Button);

    ProgramIcon.setObjectName("ProgramIcon");
    ProgramIcon.setGeometry(8, 8, 100, 100);
    ProgramIcon.setScaledContents(true);
    ProgramIcon.setPixmap(picture);

    Memo1.setObjectName("Memo1");
    Memo1.setGeometry(112, 9, 161, 99);
    Memo1.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1.setReadOnly(true);
    QStringList lines;
    for (const char* line : kMemoLines)
        lines << QString::fromUtf8(line);
    Memo1.setPlainText(lines.join('\n'));
    SetTextColor(Memo1, kNavy);

    Copyright.setObjectName("Copyright");
    Copyright.setGeometry(76, 112, 129, 13);
    Copyright.setAlignment(Qt::AlignCenter);
    Copyright.setText(QString::fromUtf8(kAboutNotice));
    SetTextColor(Copyright, kBlue);

    QFont linkFont = font;
    linkFont.setUnderline(true);
    for (TClickLabel* link : {&Label1, &Label2}) {
        link->setFont(linkFont);
        link->setCursor(Qt::PointingHandCursor);
        SetTextColor(*link, kBlue);
    }
    Label1.setObjectName("Label1");
    Label1.setGeometry(88, 128, 105, 13);
    Label1.setText(QString::fromUtf8(kAboutWebAddress));
    Label1.OnClick = [this] { Label1Click(); };
    Label2.setObjectName("Label2");
    Label2.setGeometry(60, 144, 160, 13);
    Label2.setText(QString::fromUtf8(kAboutMailAddress));
    Label2.OnClick = [this] { Label2Click(); };

    OKButton.setObjectName("OKButton");
    OKButton.setGeometry(111, 180, 75, 25);
    OKButton.setText("OK");
    OKButton.setDefault(true);
    connect(&OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
}

void TAboutBox::ShowAbout()
{
    if (!isVisible())
        CentreOnScreen();
    show();
    raise();
    activateWindow();
}

void TAboutBox::CentreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

QUrl TAboutBox::WebUrl()
{
    return QUrl(QStringLiteral("http://") + QString::fromUtf8(kAboutWebAddress));
}

QUrl TAboutBox::MailUrl()
{
    const QByteArray subject = QUrl::toPercentEncoding(QString::fromUtf8(kAboutMailSubject));
    return QUrl(QStringLiteral("mailto:") + QString::fromUtf8(kAboutMailAddress) +
                QStringLiteral("?subject=") + QString::fromLatin1(subject));
}

void TAboutBox::Label1Click()
{
    if (FOpenUrl)
        FOpenUrl(WebUrl());
    else
        QDesktopServices::openUrl(WebUrl());
}

void TAboutBox::Label2Click()
{
    if (FOpenUrl)
        FOpenUrl(MailUrl());
    else
        QDesktopServices::openUrl(MailUrl());
}

void TAboutBox::OKButtonClick()
{
    accept();
}
