#pragma once

#include <string>

class QWindow;

namespace fw {

// Asks the desktop over the session bus not to blank the screen: the freedesktop ScreenSaver
// service (KDE, Xfce and others) and the desktop portal's Inhibit (GNOME, sandboxed installs).
// The requests go out without waiting for the answers; a missing bus or service is skipped.
class DesktopInhibit {
public:
    static void inhibit(QWindow* window, const std::string& reason);
    // Withdraws what was granted, waiting at most about 100 ms for the answers.
    static void release();
};

}
