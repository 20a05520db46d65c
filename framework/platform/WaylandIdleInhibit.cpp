#include "WaylandIdleInhibit.h"
#include "WaylandClient.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QEvent>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QWindow>
#include <memory>
#include <wayland-client.h>

namespace fw {

namespace {

struct State {
    std::unique_ptr<wayland::PrivateQueue> queue;
    zwp_idle_inhibit_manager_v1* manager = nullptr;
    zwp_idle_inhibitor_v1* inhibitor = nullptr;
    wl_surface* surface = nullptr; // the surface the inhibitor stands on
    QPointer<QWindow> window; // the window it is held for
    std::unique_ptr<QObject> watch;
};

State s;

void dropInhibitor()
{
    if (s.inhibitor) {
        zwp_idle_inhibitor_v1_destroy(s.inhibitor);
        s.inhibitor = nullptr;
        s.queue->flush();
    }
    s.surface = nullptr;
}

// Puts the inhibitor on the window's surface as it is now, if it has one.
void standOnSurface()
{
    wl_surface* surface = s.window ? wayland::surface(s.window) : nullptr;
    if (!surface || (s.inhibitor && surface == s.surface))
        return;
    if (!s.queue) {
        s.queue = std::make_unique<wayland::PrivateQueue>(wayland::display());
        s.manager = static_cast<zwp_idle_inhibit_manager_v1*>(s.queue->bind(&zwp_idle_inhibit_manager_v1_interface, 1));
    }
    if (!s.manager)
        return;
    dropInhibitor();
    s.inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(s.manager, surface);
    s.surface = surface;
    s.queue->flush();
}

// The toolkit makes a window's surface when the window first shows and may make it anew
// later: the inhibitor follows, since it stands on one surface only.
class SurfaceWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose)
            standOnSurface();
        else if (event->type() == QEvent::PlatformSurface
                 && static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
                     == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
            dropInhibitor();
        return QObject::eventFilter(watched, event);
    }
};

}

bool WaylandIdleInhibit::inhibit(QWindow* window)
{
    if (!s.window && window && wayland::display()) {
        s.window = window;
        s.watch = std::make_unique<SurfaceWatch>();
        window->installEventFilter(s.watch.get());
    }
    standOnSurface();
    return s.inhibitor != nullptr;
}

void WaylandIdleInhibit::release()
{
    s.watch.reset(); // leaves the window's filters with it
    s.window = nullptr;
    if (s.queue)
        dropInhibitor();
    if (s.manager) {
        zwp_idle_inhibit_manager_v1_destroy(s.manager);
        s.manager = nullptr;
    }
    s.queue.reset();
}

}
