#pragma once

#include "tray/Component.h"
#include "tray/TrayShell.h"

#include <functional>
#include <vector>

class TImageList;

/// A user's registration with an image list: OnChange runs after every change of the list. The link takes
/// itself off the list when it is destroyed first.
class TChangeLink
{
public:
    TChangeLink() = default;
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;
    ~TChangeLink();

    /// The list the link is registered with; null when none.
    TImageList* Sender() const { return FSender; }

    std::function<void()> OnChange;

private:
    friend class TImageList;
    TImageList* FSender = nullptr;
};

/// An ordered list of icons (handles of the tray shell; the list does not own them) that tells its users
/// when it changes.
class TImageList : public TComponent
{
public:
    TImageList() = default;
    ~TImageList() override;

    int Count() const { return static_cast<int>(FIcons.size()); }
    void Add(TIconHandle icon);
    void Clear();
    /// Icon number index; 0 (no icon) for an index outside the list.
    TIconHandle GetIcon(int index) const;

    /// Registers link with this list, taking it off the list it was registered with before.
    void RegisterChanges(TChangeLink& link);
    void UnregisterChanges(TChangeLink& link);

private:
    void Change();

    std::vector<TIconHandle> FIcons;
    std::vector<TChangeLink*> FLinks;
};
