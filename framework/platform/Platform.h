#pragma once

class QWindow;

// What the layer asks of the system beneath the toolkit, besides keeping the display awake
// (DisplayKeeper.h) and preparing a full-screen frame (FramePrefault.h).
namespace fw::platform {

// Before the toolkit starts: no session bus is asked for unless one runs.
void beforeToolkitStarts();
// Right before the toolkit disconnects from the display server.
void beforeToolkitDisconnects();
// A full-screen window that the display server has not given the keyboard asks for it.
void askForKeyboard(QWindow* window);
// A full-screen window has been shown: nothing of the desktop's own stays over it.
void fullScreenShown();
// Whether the display system places full-screen windows itself when screens change: a
// compositor always does, an X server only through a window manager.
bool displaySystemPlacesWindows();

}
