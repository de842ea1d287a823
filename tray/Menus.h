#pragma once

#include "tray/Component.h"
#include "tray/TrayShell.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One item of a popup menu. Its menu gives it a command number of its own, which the shell hands back when
/// the user chooses it.
class TMenuItem : public TComponent
{
public:
    explicit TMenuItem(std::uint32_t command)
        : FCommand(command)
    {
    }

    std::uint32_t Command() const { return FCommand; }
    /// UTF-8.
    const std::string& Caption() const { return FCaption; }
    void SetCaption(std::string value) { FCaption = std::move(value); }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value) { FEnabled = value; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool value) { FVisible = value; }
    /// The default item is shown in bold, and a double-click on the tray icon runs it.
    bool Default() const { return FDefault; }
    void SetDefault(bool value) { FDefault = value; }

    /// Raises OnClick with the item as Sender; a disabled item does nothing.
    void Click();

    TNotifyEvent OnClick;

private:
    std::uint32_t FCommand;
    std::string FCaption;
    bool FEnabled = true;
    bool FVisible = true;
    bool FDefault = false;
};

/// A popup menu: an ordered list of items that it owns, and the flags the tray icon looks at.
class TPopupMenu : public TComponent
{
public:
    /// Adds an item at the end and returns it; the menu owns it.
    TMenuItem& Add(std::string caption, TNotifyEvent onClick = {});
    int Count() const { return static_cast<int>(FItems.size()); }
    /// Item number index (0 is the first); index must lie within Count.
    TMenuItem& Items(int index) const { return *FItems.at(static_cast<std::size_t>(index)); }

    /// Whether the tray icon pops the menu up (and runs its default item) at all.
    bool AutoPopup() const { return FAutoPopup; }
    void SetAutoPopup(bool value) { FAutoPopup = value; }
    /// The component that popped the menu up last; null once that one has gone.
    TComponent* PopupComponent() const { return FPopupComponent; }
    void SetPopupComponent(TComponent* value);

    /// The lines the shell shows: the visible items in order; the first visible default item is the
    /// default line.
    std::vector<TTrayMenuItem> ShellItems() const;
    /// Clicks the item with this command number. False when no item has it (0: nothing was chosen).
    bool DispatchCommand(std::uint32_t command);

protected:
    void Notification(TComponent* component) override;

private:
    std::vector<std::unique_ptr<TMenuItem>> FItems;
    bool FAutoPopup = true;
    TComponent* FPopupComponent = nullptr;
};
