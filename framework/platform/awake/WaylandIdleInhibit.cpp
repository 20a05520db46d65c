#include "WaylandIdleInhibit.h"
#include "displayserver/WaylandClient.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QEvent>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <wayland-client.h>

namespace fw::platform {

WaylandIdleInhibit::WaylandIdleInhibit(QWindow* window, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_channel(QStringLiteral("the compositor"), [this] { standOnSurface(); })
{
    if (!window || !waylandDisplay())
        return;
    window->installEventFilter(this);
    standOnSurface();
}

WaylandIdleInhibit::~WaylandIdleInhibit()
{
    drop();
}

void WaylandIdleInhibit::drop()
{
    if (!m_inhibitor)
        return;
    zwp_idle_inhibitor_v1_destroy(m_inhibitor);
    m_inhibitor = nullptr;
    // Sent at once, on the connection itself: asking for the queue would make a new one after
    // the layer's has ended.
    if (wl_display* display = waylandDisplay())
        wl_display_flush(display);
}

// Puts the inhibitor on the window's surface as it is now, if it has one and none stands. A
// compositor that does not answer in time for the manager is asked again on the channel's
// schedule only.
void WaylandIdleInhibit::standOnSurface()
{
    wl_surface* surface = m_window && m_window->isVisible() ? waylandSurface(m_window) : nullptr;
    WaylandQueue* queue = WaylandQueue::get();
    if (!surface || m_inhibitor || !queue)
        return;
    bool answered = false;
    auto* manager = static_cast<zwp_idle_inhibit_manager_v1*>(queue->bindOnce(&zwp_idle_inhibit_manager_v1_interface, 1,
        [](void* kept) { zwp_idle_inhibit_manager_v1_destroy(static_cast<zwp_idle_inhibit_manager_v1*>(kept)); }, &answered));
    if (!answered)
        return m_channel.failed(QStringLiteral("did not answer in time"));
    if (!manager)
        return m_channel.absent();
    m_inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(manager, surface);
    queue->flush();
    m_channel.held();
}

// The toolkit can make the window a new surface while it shows (its output gone and back); a
// surface made later may have the old one's address. The inhibitor stands on one surface
// only: it goes with the old one and comes back once the window has its new one. (The window's
// hiding, when the toolkit may free the surface without saying so first, ends the object.)
bool WaylandIdleInhibit::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Expose:
    case QEvent::Show:
        if (!m_channel.waiting())
            standOnSurface();
        break;
    case QEvent::PlatformSurface:
        if (static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
            drop();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

}
