#pragma once

#include <string>

/// What the camera watcher reads from and writes to the main window. The Qt
/// window implements it; the core tests use a recording fake. Texts are UTF-8.
class TWatcherView
{
public:
    virtual ~TWatcherView() = default;

    /// Makes the main window visible and brings it to the front, without
    /// taking the keyboard focus from the user's other windows.
    virtual void ShowMainWindow() = 0;
    virtual void HideMainWindow() = 0;

    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetTrayHint(const std::string& text) = 0;
    virtual void SetLabel1(const std::string& text) = 0;
    /// index 0 or 1: the two panels of the status bar.
    virtual void SetStatusPanel(int index, const std::string& text) = 0;
    virtual void SetButton2Enabled(bool enabled) = 0;
    virtual void SetProgressMax(int value) = 0;
    virtual void SetProgressPosition(int value) = 0;
    virtual void SetCheckBox1(const std::string& caption, bool enabled) = 0;
    virtual void SetBeendenEnabled(bool enabled) = 0;
    virtual void SetTimer1Enabled(bool enabled) = 0;

    virtual bool CheckBox1Checked() const = 0;
    virtual bool RadioButton1Checked() const = 0;
    virtual bool RadioButton2Checked() const = 0;

    /// Paints the window now and lets pending non-input events run, so the
    /// desktop does not take a long transfer for a hung program.
    virtual void Repaint() = 0;
};
