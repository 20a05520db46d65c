// The only file that reaches the toolkit's private platform interface: Qt gives a window's
// wl_display and wl_surface through it alone.
#include "WaylandClient.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QWindow>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace fw::platform {

namespace {

// The compositor answers a round trip at once; one that does not (stopped, or hung) is not
// waited for longer than this.
constexpr int RoundTripTimeoutMs = 500;

void onSyncDone(void* data, wl_callback*, uint32_t)
{
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener SyncListener = { onSyncDone };

struct Wanted {
    const wl_interface* interface;
    unsigned version;
    void* bound = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    auto* wanted = static_cast<Wanted*>(data);
    if (!wanted->bound && std::strcmp(interface, wanted->interface->name) == 0 && version >= wanted->version)
        wanted->bound = wl_registry_bind(registry, name, wanted->interface, wanted->version);
}

void onGlobalRemove(void*, wl_registry*, uint32_t) { }

const wl_registry_listener RegistryListener = { onGlobal, onGlobalRemove };

void logThroughToolkit(const char* format, va_list arguments)
{
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    QMessageLogger(nullptr, 0, nullptr, "qt.qpa.wayland.libwayland").warning("%s", QByteArray(line).trimmed().constData());
}

}

void routeWaylandLogThroughToolkit()
{
    wl_log_set_handler_client(logThroughToolkit);
}

wl_display* waylandDisplay()
{
    if (QGuiApplication::platformName() != QLatin1String("wayland"))
        return nullptr;
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
}

wl_surface* waylandSurface(QWindow* window)
{
    // A window has a surface only once the toolkit has made its platform window.
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native || !window || !window->handle() || !waylandDisplay())
        return nullptr;
    return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window));
}

WaylandQueue::WaylandQueue(wl_display* display)
    : connection(display)
    , queue(wl_display_create_queue(display))
    , sender(static_cast<wl_display*>(wl_proxy_create_wrapper(display)))
{
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(sender), queue);
}

WaylandQueue::~WaylandQueue()
{
    wl_proxy_wrapper_destroy(sender);
    wl_display_flush(connection);
    wl_event_queue_destroy(queue);
}

// wl_display_roundtrip_queue() without its unbounded wait. The toolkit's own thread reads the
// same connection, so events are read the way libwayland asks of several readers.
bool WaylandQueue::roundTrip()
{
    bool done = false;
    wl_callback* callback = wl_display_sync(sender);
    wl_callback_add_listener(callback, &SyncListener, &done);
    const QDeadlineTimer deadline(RoundTripTimeoutMs);
    while (!done && !deadline.hasExpired()) {
        if (wl_display_prepare_read_queue(connection, queue) != 0) {
            if (wl_display_dispatch_queue_pending(connection, queue) < 0)
                break;
            continue;
        }
        wl_display_flush(connection);
        pollfd readable { wl_display_get_fd(connection), POLLIN, 0 };
        if (::poll(&readable, 1, static_cast<int>(deadline.remainingTime())) > 0) {
            if (wl_display_read_events(connection) < 0)
                break;
        } else {
            wl_display_cancel_read(connection);
        }
        if (wl_display_dispatch_queue_pending(connection, queue) < 0)
            break;
    }
    wl_callback_destroy(callback);
    return done;
}

void* WaylandQueue::bind(const wl_interface* interface, unsigned version, bool* answered)
{
    Wanted wanted { interface, version };
    wl_registry* registry = wl_display_get_registry(sender);
    wl_registry_add_listener(registry, &RegistryListener, &wanted);
    // The globals are announced at once; without them in time, nothing is bound.
    const bool inTime = roundTrip();
    wl_registry_destroy(registry);
    if (answered)
        *answered = inTime;
    if (!inTime && wanted.bound) {
        wl_proxy_destroy(static_cast<wl_proxy*>(wanted.bound));
        return nullptr;
    }
    return wanted.bound;
}

void WaylandQueue::flush()
{
    wl_display_flush(connection);
}

}
