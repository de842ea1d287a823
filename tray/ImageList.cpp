#include "tray/ImageList.h"

#include <algorithm>

TChangeLink::~TChangeLink()
{
    if (FSender != nullptr)
        FSender->UnregisterChanges(*this);
}

TImageList::~TImageList()
{
    for (TChangeLink* link : FLinks)
        link->FSender = nullptr;
}

void TImageList::Add(TIconHandle icon)
{
    FIcons.push_back(icon);
    Change();
}

void TImageList::Clear()
{
    FIcons.clear();
    Change();
}

TIconHandle TImageList::GetIcon(int index) const
{
    return index >= 0 && index < Count() ? FIcons[static_cast<std::size_t>(index)] : 0;
}

void TImageList::RegisterChanges(TChangeLink& link)
{
    if (link.FSender == this)
        return;
    if (link.FSender != nullptr)
        link.FSender->UnregisterChanges(link);
    link.FSender = this;
    FLinks.push_back(&link);
}

void TImageList::UnregisterChanges(TChangeLink& link)
{
    if (link.FSender != this)
        return;
    std::erase(FLinks, &link);
    link.FSender = nullptr;
}

void TImageList::Change()
{
    // A user may unregister (or register) links while it is told: only links still registered hear of it.
    const std::vector<TChangeLink*> links = FLinks;
    for (TChangeLink* link : links)
        if (std::find(FLinks.begin(), FLinks.end(), link) != FLinks.end() && link->OnChange)
            link->OnChange();
}
