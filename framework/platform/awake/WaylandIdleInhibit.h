#pragma once

#include "KeepAwakeChannel.h"

#include <QObject>
#include <QPointer>

class QWindow;
struct zwp_idle_inhibitor_v1;

namespace fw::platform {

// The Wayland idle-inhibit protocol: while an inhibitor stands on a window's surface, the
// compositor does not blank the screen or lock it for idleness (wlroots compositors such as
// sway, cage, labwc and wayfire, and KDE). While the object lives, an inhibitor stands on the
// window's surface, also on every surface the toolkit makes for it later; it is made while the
// window shows, and ended when the window hides (the window's DisplayHold does both). Nothing
// happens off Wayland or where the compositor does not offer the protocol.
class WaylandIdleInhibit : public QObject {
public:
    WaylandIdleInhibit(QWindow* window, QObject* parent = nullptr);
    ~WaylandIdleInhibit() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void standOnSurface();
    void drop();

    QPointer<QWindow> m_window;
    KeepAwakeChannel m_channel;
    zwp_idle_inhibitor_v1* m_inhibitor = nullptr;
};

}
