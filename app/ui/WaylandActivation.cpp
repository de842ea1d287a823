#include "app/ui/WindowActivation.h"
#include "xdg-activation-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <cstring>
#include <wayland-client.h>

namespace {

/// The compositor's xdg_activation_v1 on Qt's connection. Qt 6.4 binds the protocol too, but only uses
/// the token it finds at start; a token that arrives later needs a binding of our own.
struct TActivation
{
    wl_display* Display = nullptr;
    xdg_activation_v1* Global = nullptr;
};

void Announce(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t)
{
    auto* activation = static_cast<TActivation*>(data);
    if (activation->Global == nullptr && std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
        activation->Global = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void Withdraw(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener{Announce, Withdraw};

/// Binds the global once, through a registry on an event queue of its own, so that waiting for the
/// compositor's list of globals dispatches none of Qt's events. The binding lives as long as the
/// connection, which is the program's; it is never torn down.
const TActivation& Activation(wl_display* display)
{
    static TActivation activation = [display] {
        TActivation bound{display, nullptr};
        wl_event_queue* queue = wl_display_create_queue(display);
        auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        if (queue == nullptr || wrapper == nullptr)
            return bound;
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
        wl_registry* registry = wl_display_get_registry(wrapper);
        wl_proxy_wrapper_destroy(wrapper);
        wl_registry_add_listener(registry, &kRegistryListener, &bound);
        wl_display_roundtrip_queue(display, queue);
        wl_registry_destroy(registry);
        // The activation object has no events: the queue stays empty and may stay with it.
        return bound;
    }();
    return activation;
}

} // namespace

bool ActivateWithToken(QWindow& window, const QByteArray& token)
{
    if (token.isEmpty() || !QGuiApplication::platformName().startsWith("wayland"))
        return false;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr)
        return false;
    auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &window));
    if (display == nullptr || surface == nullptr)
        return false;
    const TActivation& activation = Activation(display);
    if (activation.Global == nullptr || activation.Display != display)
        return false;
    // The protocol takes a zero-terminated string; QByteArray keeps one after its data.
    xdg_activation_v1_activate(activation.Global, token.constData(), surface);
    wl_display_flush(display);
    return true;
}
