#pragma once

#include "app/core/WatcherView.h"

#include <functional>
#include <string>
#include <vector>

/// A main window that only remembers what it was told. The inputs (radio
/// buttons, check box) are plain fields the test sets.
class TRecordingView : public TWatcherView
{
public:
    void ShowMainWindow() override
    {
        Visible = true;
        ++ShowCount;
    }
    void HideMainWindow() override { Visible = false; }
    void SetCaption(const std::string& text) override { Caption = text; }
    void SetTrayHint(const std::string& text) override { TrayHint = text; }
    void SetLabel1(const std::string& text) override
    {
        Label1 = text;
        Label1History.push_back(text);
    }
    void SetStatusPanel(int index, const std::string& text) override
    {
        Panels.at(static_cast<size_t>(index)) = text;
    }
    void SetButton2Enabled(bool enabled) override { Button2Enabled = enabled; }
    void SetProgressMax(int value) override { ProgressMax = value; }
    void SetProgressPosition(int value) override { ProgressPosition = value; }
    void SetCheckBox1(const std::string& caption, bool enabled) override
    {
        CheckBox1Caption = caption;
        CheckBox1Enabled = enabled;
        CheckBox1History.push_back(caption);
    }
    void SetBeendenEnabled(bool enabled) override { BeendenEnabled = enabled; }
    void SetTimer1Enabled(bool enabled) override { Timer1Enabled = enabled; }
    bool CheckBox1Checked() const override { return CheckBox1IsChecked; }
    bool RadioButton1Checked() const override { return !MoveMode; }
    bool RadioButton2Checked() const override { return MoveMode; }
    void Repaint() override
    {
        ++RepaintCount;
        if (OnRepaint)
            OnRepaint();
    }

    bool Visible = false;
    int ShowCount = 0;
    int RepaintCount = 0;
    std::string Caption = "Warte auf Kamera";
    std::string TrayHint = "Warte auf Camera";
    std::string Label1 = "Kein Gerät angeschlossen";
    std::vector<std::string> Label1History;
    std::vector<std::string> Panels{"", ""};
    bool Button2Enabled = false;
    int ProgressMax = 100;
    int ProgressPosition = 0;
    std::string CheckBox1Caption = "Wenn möglich Bilder drehen";
    bool CheckBox1Enabled = true;
    std::vector<std::string> CheckBox1History;
    bool BeendenEnabled = true;
    bool Timer1Enabled = true;

    bool CheckBox1IsChecked = true;
    bool MoveMode = false;
    std::function<void()> OnRepaint;
};
