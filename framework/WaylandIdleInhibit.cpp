// The only file that reaches the toolkit's private platform interface: Qt gives a window's
// wl_display and wl_surface through it alone.
#include "WaylandIdleInhibit.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QWindow>
#include <cstring>
#include <poll.h>
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

// The compositor answers a round trip at once; one that does not (stopped, or hung) is not
// waited for longer than this, and the idle inhibitor is then simply not there.
constexpr int RoundTripTimeoutMs = 500;

void onSyncDone(void* data, wl_callback*, uint32_t)
{
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener SyncListener = { onSyncDone };

// wl_display_roundtrip_queue() without its unbounded wait. The toolkit's own thread reads the
// same connection, so events are read the way libwayland asks of several readers.
bool roundTrip(wl_display* display, wl_event_queue* queue, wl_display* onQueue)
{
    bool done = false;
    wl_callback* callback = wl_display_sync(onQueue);
    wl_callback_add_listener(callback, &SyncListener, &done);
    const QDeadlineTimer deadline(RoundTripTimeoutMs);
    while (!done && !deadline.hasExpired()) {
        if (wl_display_prepare_read_queue(display, queue) != 0) {
            if (wl_display_dispatch_queue_pending(display, queue) < 0)
                break;
            continue;
        }
        wl_display_flush(display);
        pollfd readable { wl_display_get_fd(display), POLLIN, 0 };
        if (::poll(&readable, 1, static_cast<int>(deadline.remainingTime())) > 0) {
            if (wl_display_read_events(display) < 0)
                break;
        } else {
            wl_display_cancel_read(display);
        }
        if (wl_display_dispatch_queue_pending(display, queue) < 0)
            break;
    }
    wl_callback_destroy(callback);
    return done;
}

// Binds the manager on a queue of our own, so that the toolkit's queue and thread, which
// read the same display, never see our objects.
zwp_idle_inhibit_manager_v1* bindManager(wl_display* display)
{
    s.display = display;
    s.queue = wl_display_create_queue(display);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), s.queue);
    wl_registry* registry = wl_display_get_registry(wrapped);
    zwp_idle_inhibit_manager_v1* manager = nullptr;
    wl_registry_add_listener(registry, &RegistryListener, &manager);
    // The globals are announced at once; without them in time, no manager.
    const bool answered = roundTrip(display, s.queue, wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    wl_registry_destroy(registry);
    if (!answered && manager) {
        zwp_idle_inhibit_manager_v1_destroy(manager);
        manager = nullptr;
    }
    return manager;
}

}

void WaylandIdleInhibit::settleBeforeDisconnect()
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* display = native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
    if (!display)
        return;
    // The toolkit's event thread reads the connection once the main thread has prepared a read
    // for it, which the main thread does whenever its loop wakes or sleeps. Should the toolkit
    // stop that thread before it has taken up a read prepared for it, the read is never taken
    // and its frame thread waits for it for ever, and so does the program at exit. A round trip
    // of our own reads alongside it: once it is over, no read is left waiting for that thread.
    wl_event_queue* queue = wl_display_create_queue(display);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue);
    roundTrip(display, queue, wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    wl_event_queue_destroy(queue);
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
    if (!s.manager && !s.queue)
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
