#pragma once

#include <string>

class QWindow;

namespace fw::platform {

// Asks the desktop over the session bus not to blank the screen: the freedesktop ScreenSaver
// service (KDE, Xfce and others) and the desktop portal's Inhibit (GNOME, sandboxed installs).
// The requests go out without waiting for the answers; a missing bus or service is skipped.
class DesktopInhibit {
public:
    static void inhibit(QWindow* window, const std::string& reason);
    // Withdraws what was granted, waiting within about 350 ms for answers still to come and
    // for the withdrawals' answers; a cookie granted later still is given back when it comes.
    static void release();
};

}
