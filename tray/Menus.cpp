#include "tray/Menus.h"

void TMenuItem::Click()
{
    if (FEnabled && OnClick)
        OnClick(this);
}

TMenuItem& TPopupMenu::Add(std::string caption, TNotifyEvent onClick)
{
    // Numbers start at 1: the shell answers 0 when nothing was chosen.
    auto& item =
        *FItems.emplace_back(std::make_unique<TMenuItem>(static_cast<std::uint32_t>(FItems.size() + 1)));
    item.SetCaption(std::move(caption));
    item.OnClick = std::move(onClick);
    return item;
}

void TPopupMenu::SetPopupComponent(TComponent* value)
{
    FPopupComponent = value;
    FreeNotification(value);
}

std::vector<TTrayMenuItem> TPopupMenu::ShellItems() const
{
    std::vector<TTrayMenuItem> lines;
    bool defaultTaken = false;
    for (const auto& item : FItems) {
        if (!item->Visible())
            continue;
        const bool isDefault = item->Default() && !defaultTaken;
        defaultTaken = defaultTaken || isDefault;
        lines.push_back({item->Command(), item->Caption(), item->Enabled(), isDefault});
    }
    return lines;
}

bool TPopupMenu::DispatchCommand(std::uint32_t command)
{
    for (const auto& item : FItems) {
        if (command != 0 && item->Command() == command) {
            item->Click();
            return true;
        }
    }
    return false;
}

void TPopupMenu::Notification(TComponent* component)
{
    if (component == FPopupComponent)
        FPopupComponent = nullptr;
}
