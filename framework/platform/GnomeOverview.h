#pragma once

namespace fw::platform {

// GNOME opens its Activities overview as the session starts, over every window: a full-screen
// window started at login would stay a thumbnail in it until someone came to press a key. The
// shell offers the overview's state on the session bus: when a full-screen window shows, the
// overview is closed if it is open, or if it opens within a few seconds (the session still
// starting). The shell then gives the window the keyboard. Nothing happens outside GNOME.
class GnomeOverview {
public:
    static void leave();
};

}
