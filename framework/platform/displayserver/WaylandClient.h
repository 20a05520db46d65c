#pragma once

// The toolkit's Wayland connection, for the layer's own protocol objects: kept on a queue of
// their own, so that the toolkit's queue and thread, which read the same connection, never
// see them. Not for use outside the layer.
#include <cstdint>
#include <string>
#include <vector>

struct wl_display;
struct wl_event_queue;
struct wl_interface;
struct wl_registry;
struct wl_surface;
class QWindow;

namespace fw::platform {

// libwayland's own messages go through the toolkit's message handler (the program's), not
// straight to standard error.
void routeWaylandLogThroughToolkit();
// Before the toolkit starts, on a connection of its own: whether the compositor draws the
// title bars of the windows that want them (it offers xdg-decoration). False where there is
// no compositor, or it did not answer in time, and where the program was handed a connection
// (WAYLAND_SOCKET): that one is the toolkit's, which a probe would take and close.
bool compositorDrawsTitleBars();
// The toolkit's connection, or none off Wayland.
wl_display* waylandDisplay();
// The window's surface, or none before it has one.
wl_surface* waylandSurface(QWindow* window);

// The compositor answers a round trip at once; one that does not (stopped, or hung) is not
// waited for longer than this, unless a request asks for longer.
constexpr int RoundTripTimeoutMs = 500;

// The layer's queue, with one registry of the compositor's globals for the program's life: a
// registry cannot be destroyed at the compositor, which would keep every one asked for and
// send each of them every global that comes later.
class WaylandQueue {
public:
    // The queue on the toolkit's connection, made when first asked for; none off Wayland.
    static WaylandQueue* get();
    // Before the toolkit disconnects, once every object made on the queue has been destroyed.
    static void end();

    WaylandQueue(const WaylandQueue&) = delete;
    WaylandQueue& operator=(const WaylandQueue&) = delete;

    // Waits, within the bound, until the compositor has answered every request sent so far on
    // this queue, dispatching their events; false when it did not answer in time.
    bool roundTrip(int milliseconds = RoundTripTimeoutMs);
    // The compositor's global of that interface, bound on this queue, once the compositor has
    // answered a round trip; none where it has none or did not answer in time (`answered`
    // tells which).
    void* bind(const wl_interface* interface, unsigned version, bool* answered = nullptr);
    // As bind, but bound once for the queue's life, and let go with it (`destroy` sends the
    // object's destructor request); the compositor's answer that it has none is kept too.
    void* bindOnce(const wl_interface* interface, unsigned version, void (*destroy)(void*), bool* answered = nullptr);
    // Sends what was asked so far without waiting.
    void flush();

    wl_display* const connection;
    wl_event_queue* const queue;
    wl_display* const sender; // a wrapper of the connection whose new objects use this queue

private:
    explicit WaylandQueue(wl_display* display);
    ~WaylandQueue();

    class Keeper;
    struct Global;
    struct Kept {
        const wl_interface* interface;
        void* object; // none: the compositor has none
        void (*destroy)(void*);
    };
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, uint32_t name);

    wl_registry* m_registry = nullptr;
    std::vector<Global> m_globals;
    std::vector<Kept> m_kept;
};

}
