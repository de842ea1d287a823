#include "app/ui/Application.h"

#include <QApplication>
#include <QMessageBox>

bool TQtTrayWindow::Visible() const
{
    return FWidget != nullptr && FWidget->isVisible();
}

void TQtTrayWindow::ShowNormal()
{
    if (FWidget == nullptr)
        return;
    // Also a window that was minimised before it went to the tray comes back as it was.
    if (FWidget->isMinimized())
        FWidget->setWindowState(FWidget->windowState() & ~Qt::WindowMinimized);
    FWidget->setVisible(true);
}

void TQtTrayWindow::Hide()
{
    if (FWidget != nullptr)
        FWidget->setVisible(false);
}

TTrayWindow* TApplicationHost::MainWindow()
{
    FMainWindow.SetWidget(MainForm);
    return MainForm != nullptr ? &FMainWindow : nullptr;
}

void TApplicationHost::HandleException(const std::exception& e) const
{
    if (OnException) {
        OnException(e);
        return;
    }
    QMessageBox::critical(MainForm, QApplication::applicationDisplayName(), QString::fromUtf8(e.what()));
}

TApplicationHost& Application()
{
    static TApplicationHost application;
    return application;
}
