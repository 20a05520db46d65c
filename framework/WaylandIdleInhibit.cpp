// The only file that reaches the toolkit's private platform interface: Qt gives a window's
// wl_display and wl_surface through it alone.
#include "WaylandIdleInhibit.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <cstring>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace fw {

namespace {

struct State {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    zwp_idle_inhibit_manager_v1* manager = nullptr;
    zwp_idle_inhibitor_v1* inhibitor = nullptr;
};

State s;

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0) {
        *static_cast<zwp_idle_inhibit_manager_v1**>(data) = static_cast<zwp_idle_inhibit_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void*, wl_registry*, uint32_t) { }

const wl_registry_listener RegistryListener = { onGlobal, onGlobalRemove };

// Binds the manager on a queue of our own, so that the toolkit's queue and thread, which
// read the same display, never see our objects.
zwp_idle_inhibit_manager_v1* bindManager(wl_display* display)
{
    s.display = display;
    s.queue = wl_display_create_queue(display);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), s.queue);
    wl_registry* registry = wl_display_get_registry(wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    zwp_idle_inhibit_manager_v1* manager = nullptr;
    wl_registry_add_listener(registry, &RegistryListener, &manager);
    wl_display_roundtrip_queue(display, s.queue); // the globals, announced at once
    wl_registry_destroy(registry);
    return manager;
}

}

bool WaylandIdleInhibit::inhibit(QWindow* window)
{
    if (s.inhibitor || !window || QGuiApplication::platformName() != QLatin1String("wayland"))
        return s.inhibitor != nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native)
        return false;
    auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
    if (!display || !surface)
        return false;
    if (!s.manager)
        s.manager = bindManager(display);
    if (!s.manager)
        return false;
    s.inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(s.manager, surface);
    wl_display_flush(display);
    return true;
}

void WaylandIdleInhibit::release()
{
    if (s.inhibitor) {
        zwp_idle_inhibitor_v1_destroy(s.inhibitor);
        s.inhibitor = nullptr;
    }
    if (s.manager) {
        zwp_idle_inhibit_manager_v1_destroy(s.manager);
        s.manager = nullptr;
    }
    if (s.queue) {
        wl_display_flush(s.display);
        wl_event_queue_destroy(s.queue);
        s.queue = nullptr;
    }
}

}
