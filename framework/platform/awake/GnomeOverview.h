#pragma once

class QWindow;

namespace fw::platform {

// GNOME opens its Activities overview as the session starts, over every window: a full-screen
// window started at login would stay a thumbnail in it until someone came to press a key. The
// shell offers the overview's state on the session bus. Over the first full-screen window of a
// program started with the session, the overview is closed once: if it is open when the window
// shows, or opens within a few seconds (the session still starting) while the window is there.
// The shell then gives the window the keyboard. An overview opened at any other time is the
// user's. Nothing happens outside GNOME.
void closeSessionStartOverview(QWindow* window);

}
