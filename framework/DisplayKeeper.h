#pragma once

#include <string>

namespace fw {

// Keeps the display awake while a full-screen window shows: asks the desktop (the freedesktop
// ScreenSaver service on the session bus) not to blank the screen, and suspends the X server's
// own screen saver and display power saving. Where either is missing it carries on silently.
// Holds are counted; the last release lets blanking resume.
class DisplayKeeper {
public:
    // What the desktop is told while the display is kept awake: the application's words.
    static void setReason(const std::string& reason);
    static const std::string& reason();

    static void hold();
    static void release();
    static bool held();
};

}
