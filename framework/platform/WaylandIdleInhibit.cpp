#include "WaylandIdleInhibit.h"
#include "KeepAwakeChannel.h"
#include "WaylandClient.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QEvent>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QWindow>
#include <memory>
#include <wayland-client.h>

namespace fw::platform {

namespace {

struct State {
    std::unique_ptr<WaylandQueue> queue;
    zwp_idle_inhibit_manager_v1* manager = nullptr;
    bool managerAbsent = false; // the compositor answered, without the protocol
    zwp_idle_inhibitor_v1* inhibitor = nullptr;
    QPointer<QWindow> window; // the window it is held for
    std::unique_ptr<QObject> watch;
};

State s;

void standOnSurface();

KeepAwakeChannel& channel()
{
    static auto* made = new KeepAwakeChannel(QStringLiteral("the compositor"), standOnSurface);
    return *made;
}

void dropInhibitor()
{
    if (s.inhibitor) {
        zwp_idle_inhibitor_v1_destroy(s.inhibitor);
        s.inhibitor = nullptr;
        s.queue->flush();
    }
}

// The compositor's idle-inhibit manager, bound once; a compositor that does not answer in
// time is asked again later.
bool haveManager()
{
    if (s.manager || s.managerAbsent)
        return s.manager != nullptr;
    if (!s.queue)
        s.queue = std::make_unique<WaylandQueue>(waylandDisplay());
    bool answered = false;
    s.manager = static_cast<zwp_idle_inhibit_manager_v1*>(
        s.queue->bind(&zwp_idle_inhibit_manager_v1_interface, 1, &answered));
    if (!answered) {
        channel().failed(QStringLiteral("did not answer in time"));
        return false;
    }
    s.managerAbsent = !s.manager;
    if (!s.manager)
        channel().absent();
    return s.manager != nullptr;
}

// Puts the inhibitor on the window's surface as it is now, if it has one and none stands.
void standOnSurface()
{
    wl_surface* surface = s.window && s.window->isVisible() ? waylandSurface(s.window) : nullptr;
    if (!surface || s.inhibitor || !haveManager())
        return;
    s.inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(s.manager, surface);
    s.queue->flush();
    channel().held();
}

// The toolkit makes a window's surface when the window shows, and can free it when the window
// hides, even without saying so first; a surface made later may have the old one's address.
// The inhibitor stands on one surface only: it goes with the window's hiding and comes back
// once the window shows again and has its new surface.
class SurfaceWatch : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Expose:
        case QEvent::Show:
            standOnSurface();
            break;
        case QEvent::Hide:
            dropInhibitor();
            break;
        case QEvent::PlatformSurface:
            if (static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType()
                == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
                dropInhibitor();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

}

bool WaylandIdleInhibit::inhibit(QWindow* window)
{
    if (!s.window && window && waylandDisplay()) {
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
    if (waylandDisplay())
        channel().stop();
    if (s.queue)
        dropInhibitor();
    if (s.manager) {
        zwp_idle_inhibit_manager_v1_destroy(s.manager);
        s.manager = nullptr;
    }
    s.managerAbsent = false;
    s.queue.reset();
}

}
