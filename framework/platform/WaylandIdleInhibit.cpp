#include "WaylandIdleInhibit.h"
#include "WaylandClient.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <memory>
#include <wayland-client.h>

namespace fw {

namespace {

struct State {
    std::unique_ptr<wayland::PrivateQueue> queue;
    zwp_idle_inhibit_manager_v1* manager = nullptr;
    zwp_idle_inhibitor_v1* inhibitor = nullptr;
};

State s;

}

bool WaylandIdleInhibit::inhibit(QWindow* window)
{
    if (s.inhibitor)
        return true;
    wl_surface* surface = wayland::surface(window);
    if (!surface)
        return false;
    if (!s.queue) {
        s.queue = std::make_unique<wayland::PrivateQueue>(wayland::display());
        s.manager = static_cast<zwp_idle_inhibit_manager_v1*>(s.queue->bind(&zwp_idle_inhibit_manager_v1_interface, 1));
    }
    if (!s.manager)
        return false;
    s.inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(s.manager, surface);
    s.queue->flush();
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
    s.queue.reset();
}

}
