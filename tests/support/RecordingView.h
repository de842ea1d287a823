#pragma once

#include "app/core/CameraWatcher.h"
#include "app/core/WindowTexts.h"
#include "base/TaskQueue.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Whether the window's list of texts holds text for control: as it is, or, for a counted text, after a
/// decimal count (and with its second part after another).
inline bool IsWindowText(TWindowControl control, const std::string& text)
{
    // The text after a leading decimal count, or nothing when it has none.
    const auto afterCount = [](std::string_view s) -> std::optional<std::string_view> {
        const size_t digits = s.find_first_not_of("0123456789");
        if (digits == 0 || s.empty())
            return std::nullopt;
        return s.substr(digits == std::string_view::npos ? s.size() : digits);
    };
    for (const TWindowText& entry : WindowTexts()) {
        if (entry.Control != control)
            continue;
        if (!entry.Counted) {
            const std::string named = std::string(entry.Text) + ": ";
            if (text == entry.Text || (entry.Named && text.size() > named.size() && text.starts_with(named)))
                return true;
            continue;
        }
        const auto rest = afterCount(text);
        if (!rest || !rest->starts_with(entry.Text))
            continue;
        if (entry.Second == nullptr) {
            if (*rest == entry.Text)
                return true;
            continue;
        }
        const auto second = afterCount(rest->substr(std::string_view(entry.Text).size()));
        if (second && *second == entry.Second)
            return true;
    }
    return false;
}

/// Whether each of a window state's texts is in the window's list of texts, so that the window's tests see
/// it: a text shown by the watcher but missing from the list fails the test that shows it.
inline void ExpectListed(const TWindowState& state)
{
    const std::pair<TWindowControl, const std::string*> texts[] = {
        {TWindowControl::Caption, &state.Caption}, {TWindowControl::TrayHint, &state.TrayHint},
        {TWindowControl::Message, &state.Message}, {TWindowControl::Panel1, &state.Panel1},
        {TWindowControl::Panel2, &state.Panel2},   {TWindowControl::TurnOption, &state.TurnCaption},
    };
    for (const auto& [control, text] : texts) {
        EXPECT_TRUE(IsWindowText(control, *text))
            << "\"" << *text << "\" is not in the window's list of texts for control "
            << static_cast<int>(control);
    }
}

/// A main window that only remembers what it was shown, and the histories of its label and check box (a
/// text once per change). The inputs (radio buttons, check box) are plain fields the test sets.
class TRecordingView : public TWatcherWindow
{
public:
    void Render(const TWindowState& state) override
    {
        ExpectListed(state);
        if (OnRender)
            OnRender();
        if (Label1History.empty() || Label1History.back() != state.Message)
            Label1History.push_back(state.Message);
        if (state.TurnCaption != CheckBox1Caption)
            CheckBox1History.push_back(state.TurnCaption);
        State = state;
        Caption = state.Caption;
        TrayHint = state.TrayHint;
        Label1 = state.Message;
        Panels = {state.Panel1, state.Panel2};
        Button2Enabled = state.TransferEnabled;
        ProgressMax = state.ProgressMax;
        ProgressPosition = state.ProgressPosition;
        CheckBox1Caption = state.TurnCaption;
        CheckBox1Enabled = state.TurnEnabled;
        BeendenEnabled = state.QuitEnabled;
        Timer1Enabled = state.Ticking;
    }
    void Show() override
    {
        Visible = true;
        ++ShowCount;
    }
    void Hide() override { Visible = false; }
    void Post(std::function<void()> task) override { Queue.Post(std::move(task)); }
    void TransferEnded() override { ++TransfersEnded; }

    TWindowState State;
    bool Visible = false;
    int ShowCount = 0;
    int TransfersEnded = 0;
    /// The window's thread: what a run posts waits here until the test pumps it.
    TTaskQueue Queue;
    std::string Caption = State.Caption;
    std::string TrayHint = State.TrayHint;
    std::string Label1 = State.Message;
    std::vector<std::string> Label1History;
    std::vector<std::string> Panels{"", ""};
    bool Button2Enabled = false;
    int ProgressMax = 100;
    int ProgressPosition = 0;
    std::string CheckBox1Caption = State.TurnCaption;
    bool CheckBox1Enabled = true;
    std::vector<std::string> CheckBox1History;
    bool BeendenEnabled = true;
    bool Timer1Enabled = true;

    bool CheckBox1IsChecked = true;
    bool MoveMode = false;
    /// Called on every render, before it is recorded: during a run, as each photo's progress arrives.
    std::function<void()> OnRender;
};
