#pragma once

#include "tray/TrayHost.h"

#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>

/// A Qt window as the tray icon works with it; a window that has gone is neither visible nor shown.
class TQtTrayWindow : public TTrayWindow
{
public:
    explicit TQtTrayWindow(QWidget* widget = nullptr)
        : FWidget(widget)
    {
    }

    QWidget* Widget() const { return FWidget; }
    void SetWidget(QWidget* widget) { FWidget = widget; }

    bool Visible() const override;
    void ShowNormal() override;
    void Hide() override;

private:
    QPointer<QWidget> FWidget;
};

/// The parts of the application object that the tray icon and the window's handlers work with.
class TApplicationHost : public TTrayApplication
{
public:
    /// Whether the program shows its main window when the event loop starts; the tray icon may clear it.
    bool ShowMainForm = true;
    /// The main window; absent while the main window is being built.
    QPointer<QWidget> MainForm;
    /// Shows an exception to the user; the program goes on. Unset: a message box.
    std::function<void(const std::exception&)> OnException;

    TTrayWindow* MainWindow() override;
    void SetShowMainForm(bool value) override { ShowMainForm = value; }
    void HandleException(const std::exception& e) const override;

private:
    TQtTrayWindow FMainWindow;
};

/// The program's one application object.
TApplicationHost& Application();
