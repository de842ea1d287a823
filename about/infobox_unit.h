#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include <functional>

/// A label that reports a left click (press and release on it).
class TClickLabel : public QLabel
{
public:
    using QLabel::QLabel;

    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

/// The About window: the program's picture, a thank-you text, the maker's notice and two links. Modeless and
/// always on top; "OK" and the close button only hide it, so there is only ever the one window.
class TAboutBox : public QDialog
{
public:
    using TOpenUrl = std::function<void(const QUrl&)>;

    /// picture: the program's picture. openUrl opens an address in the desktop's browser or mail program;
    /// unset, QDesktopServices does it.
    explicit TAboutBox(const QPixmap& picture, TOpenUrl openUrl = {}, QWidget* parent = nullptr);

    /// Shows the window centred on the screen, or brings it to the front when it is shown already.
    void ShowAbout();

    void Label1Click();
    void Label2Click();
    void OKButtonClick();

    /// The addresses the two links open.
    static QUrl WebUrl();
    static QUrl MailUrl();

private:
    void CentreOnScreen();

    TOpenUrl FOpenUrl;
    QFrame Panel1{this};
    QLabel ProgramIcon{&Panel1};
    QPlainTextEdit Memo1{&Panel1};
    QLabel Copyright{&Panel1};
    TClickLabel Label1{&Panel1};
    TClickLabel Label2{&Panel1};
    QPushButton OKButton{this};
};
