#include "tray/Component.h"

#include <algorithm>

TComponent::~TComponent()
{
    // One at a time from the list itself: a Notification may destroy another linked component, which then
    // takes itself off this list.
    while (!FFreeNotifies.empty()) {
        TComponent* component = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        std::erase(component->FFreeNotifies, this);
        component->Notification(this);
    }
}

void TComponent::FreeNotification(TComponent* component)
{
    if (component == nullptr || component == this ||
        std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) != FFreeNotifies.end())
        return;
    FFreeNotifies.push_back(component);
    component->FFreeNotifies.push_back(this);
}

void TComponent::Notification(TComponent*) {}
