#pragma once

#include <string>

class QWindow;

namespace fw {

// Keeps the display awake while a full-screen window shows, through every channel a desktop
// listens to: an idle inhibitor on the window's Wayland surface, the desktop's ScreenSaver
// service and portal on the session bus, and on X the server's own screen saver and display
// power saving, suspended. A channel the system does not offer is skipped silently; one that
// does not answer in time, or is lost (a desktop service restarted), is asked again for as
// long as the hold lasts, and standard error tells its story. Holds are counted; the last
// release lets blanking resume.
class DisplayKeeper {
public:
    // What the desktop is told while the display is kept awake: the application's words.
    static void setReason(const std::string& reason);
    static const std::string& reason();

    static void hold(QWindow* window);
    static void release();
};

}
