#pragma once

class QWindow;

namespace fw::platform {

// Asks a Wayland compositor to give a window the keyboard (the xdg-activation protocol): a
// full-screen window may come up on an output other than the one that has the focus, and its
// keys would go elsewhere. The launcher's token, where it left one, is the toolkit's to use
// when the window is activated; without one, a token is asked for here. Whether the window
// gets the focus is the compositor's choice (sway: focus_on_window_activation). Nothing
// happens off Wayland or where the compositor does not offer the protocol.
void activateOnWayland(QWindow* window);

}
