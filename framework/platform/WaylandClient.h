#pragma once

// The toolkit's Wayland connection, for the layer's own protocol objects: kept on a queue of
// their own, so that the toolkit's queue and thread, which read the same connection, never
// see them. Not for use outside the layer.
struct wl_display;
struct wl_event_queue;
struct wl_interface;
struct wl_surface;
class QWindow;

namespace fw::platform {

// libwayland's own messages go through the toolkit's message handler (the program's), not
// straight to standard error.
void routeWaylandLogThroughToolkit();
// The toolkit's connection, or none off Wayland.
wl_display* waylandDisplay();
// The window's surface, or none before it has one.
wl_surface* waylandSurface(QWindow* window);

class WaylandQueue {
public:
    explicit WaylandQueue(wl_display* display);
    ~WaylandQueue();
    WaylandQueue(const WaylandQueue&) = delete;
    WaylandQueue& operator=(const WaylandQueue&) = delete;

    // Waits, within a bound, until the compositor has answered every request sent so far on
    // this queue, dispatching their events; false when it did not answer in time.
    bool roundTrip();
    // The compositor's global of that interface, bound on this queue; none where it has none
    // or did not answer in time (`answered` tells which).
    void* bind(const wl_interface* interface, unsigned version, bool* answered = nullptr);
    // Sends what was asked so far without waiting.
    void flush();

    wl_display* const connection;
    wl_event_queue* const queue;
    wl_display* const sender; // a wrapper of the connection whose new objects use this queue
};

}
