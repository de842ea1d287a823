#pragma once

#include <functional>
#include <string>
#include <vector>

/// A named part of a window: a menu, an image list, a tray icon. A component that keeps a pointer to another
/// asks it for a free notification, so that it hears of the other's end and never uses a pointer to a
/// component that has gone.
class TComponent
{
public:
    TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    /// Tells every component linked by FreeNotification that this one is going.
    virtual ~TComponent();

    const std::string& Name() const { return FName; }
    void SetName(std::string value) { FName = std::move(value); }
    /// Links this component and component both ways: whichever is destroyed first calls the other's
    /// Notification. Linking twice links once.
    void FreeNotification(TComponent* component);

protected:
    /// A component linked by FreeNotification is being destroyed; it must not be used after this returns.
    virtual void Notification(TComponent* component);

private:
    std::string FName;
    std::vector<TComponent*> FFreeNotifies;
};

/// An event without arguments; Sender is the component that raises it.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
