#pragma once

class QWindow;

namespace fw::platform {

// GNOME opens its Activities overview as the session starts, over every window: a full-screen
// window started at login would stay a thumbnail in it until someone came to press a key. The
// shell offers the overview's state on the session bus. For a program started with the
// session, the overview is closed over its first full-screen window, once: if it is open when
// the window shows, or opens within a few seconds (the session still starting) while the
// window is there. The shell then gives the window the keyboard. An overview opened at any
// other time is the user's. Nothing happens outside GNOME.
class GnomeOverview {
public:
    // The program starts with the session.
    static void startingWithTheSession();
    // A full-screen window has been shown.
    static void shown(QWindow* window);
};

}
