#pragma once

#include <exception>

/// A top-level window of the front end as the tray icon works with it: the icon's owner and the
/// application's main window.
class TTrayWindow
{
public:
    virtual ~TTrayWindow() = default;

    virtual bool Visible() const = 0;
    /// Makes the window visible, in its normal state when it was minimised.
    virtual void ShowNormal() = 0;
    virtual void Hide() = 0;
};

/// The application object as the tray icon works with it. The front end implements it.
class TTrayApplication
{
public:
    virtual ~TTrayApplication() = default;

    /// The main window; null while it is being built.
    virtual TTrayWindow* MainWindow() = 0;
    /// Whether the event loop shows the main window when it starts (true until the tray icon clears it).
    virtual void SetShowMainForm(bool value) = 0;
    /// Shows an exception to the user; the program goes on.
    virtual void HandleException(const std::exception& e) const = 0;
};
