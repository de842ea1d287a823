#pragma once

#include "app/win/Win.h"
#include "tray/TrayHost.h"

#include <exception>
#include <functional>

/// A top-level window as the tray icon works with it; no window (null) is neither visible nor shown.
class TWinTrayWindow : public TTrayWindow
{
public:
    explicit TWinTrayWindow(HWND window = nullptr)
        : FWindow(window)
    {
    }

    void SetHandle(HWND window) { FWindow = window; }
    bool Visible() const override;
    void ShowNormal() override;
    void Hide() override;

private:
    HWND FWindow;
};

/// The parts of the application object that the tray icon and the window's handlers work with.
class TWinApplication : public TTrayApplication
{
public:
    /// Whether the program shows its main window when the message loop starts; the tray icon may clear it.
    bool ShowMainForm = true;
    /// The main window; null while it is being built.
    HWND MainForm = nullptr;
    /// Shows an exception to the user; the program goes on. Unset: a message box.
    std::function<void(const std::exception&)> OnException;

    TTrayWindow* MainWindow() override;
    void SetShowMainForm(bool value) override { ShowMainForm = value; }
    void HandleException(const std::exception& e) const override;

private:
    TWinTrayWindow FMainWindow;
};

/// The windows' font: the system's dialog font at 96 dots per inch, pixels high (11 for 8 points). The
/// caller owns it.
HFONT DialogFont(int pixels, bool bold, bool underline = false);

/// The program's one application object.
TWinApplication& Application();
