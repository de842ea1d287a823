#pragma once

#include "app/core/WatcherView.h"
#include "app/core/WindowTexts.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

/// Whether the window's list of texts holds text for control: as it is, or, for a counted text, after a
/// decimal count.
inline bool IsWindowText(TWindowControl control, const std::string& text)
{
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    for (const TWindowText& entry : WindowTexts()) {
        if (entry.Control == control &&
            (entry.Counted ? digits > 0 && text.substr(digits) == entry.Text : text == entry.Text))
            return true;
    }
    return false;
}

/// A main window that only remembers what it was told. The inputs (radio
/// buttons, check box) are plain fields the test sets. Every text it is
/// given must be one of the window's listed texts, so that the window's
/// tests see it: a text shown by the watcher but missing from the list fails
/// the test that shows it.
class TRecordingView : public TWatcherView
{
public:
    void ShowMainWindow() override
    {
        Visible = true;
        ++ShowCount;
    }
    void HideMainWindow() override { Visible = false; }
    void SetCaption(const std::string& text) override
    {
        Listed(TWindowControl::Caption, text);
        Caption = text;
    }
    void SetTrayHint(const std::string& text) override
    {
        Listed(TWindowControl::TrayHint, text);
        TrayHint = text;
    }
    void SetLabel1(const std::string& text) override
    {
        Listed(TWindowControl::Label1, text);
        Label1 = text;
        Label1History.push_back(text);
    }
    void SetStatusPanel(int index, const std::string& text) override
    {
        Listed(index == 0 ? TWindowControl::StatusPanel1 : TWindowControl::StatusPanel2, text);
        Panels.at(static_cast<size_t>(index)) = text;
    }
    void SetButton2Enabled(bool enabled) override { Button2Enabled = enabled; }
    void SetProgressMax(int value) override { ProgressMax = value; }
    void SetProgressPosition(int value) override { ProgressPosition = value; }
    void SetCheckBox1(const std::string& caption, bool enabled) override
    {
        Listed(TWindowControl::CheckBox1, caption);
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

private:
    static void Listed(TWindowControl control, const std::string& text)
    {
        EXPECT_TRUE(IsWindowText(control, text))
            << "\"" << text << "\" is not in the window's list of texts for control "
            << static_cast<int>(control);
    }
};
