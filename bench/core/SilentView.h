#pragma once

#include "app/core/WatcherView.h"

#include <string>

/// A main window that shows nothing, in copy mode, turning photos upright
/// only when asked to: the benchmarks measure the watcher's work, not a
/// window's.
class TSilentView : public TWatcherView
{
public:
    explicit TSilentView(bool turnPhotos = false)
        : FTurnPhotos(turnPhotos)
    {
    }

    void ShowMainWindow() override {}
    void HideMainWindow() override {}
    void SetCaption(const std::string&) override {}
    void SetTrayHint(const std::string&) override {}
    void SetLabel1(const std::string&) override {}
    void SetStatusPanel(int, const std::string&) override {}
    void SetButton2Enabled(bool) override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void SetCheckBox1(const std::string&, bool) override {}
    void SetBeendenEnabled(bool) override {}
    void SetTimer1Enabled(bool) override {}
    bool CheckBox1Checked() const override { return FTurnPhotos; }
    bool RadioButton1Checked() const override { return true; }
    bool RadioButton2Checked() const override { return false; }
    void Repaint() override {}

private:
    bool FTurnPhotos;
};
