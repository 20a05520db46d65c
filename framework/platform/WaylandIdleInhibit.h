#pragma once

class QWindow;

namespace fw::platform {

// The Wayland idle-inhibit protocol: while an inhibitor stands on a window's surface, the
// compositor does not blank the screen or lock it for idleness (wlroots compositors such as
// sway, cage, labwc and wayfire, and KDE). Nothing happens off Wayland or where the compositor
// does not offer the protocol.
class WaylandIdleInhibit {
public:
    // Puts an inhibitor on the window's surface, now if it has one, else once it has; and on
    // every surface the toolkit makes for the window after. True when one stands now.
    static bool inhibit(QWindow* window);
    static void release();
};

}
