#pragma once

#include "framework/Application.h"

// The application object: one per process.
class App : public fw::Application {
public:
    App() { Constructor(); }

    void Constructor() { }
    void Event_Open() override;
};

inline constexpr const char* ApplicationName = "Velquarin Control Board";
// The id of the desktop entry and icon, where a name may hold no blank.
inline constexpr const char* DesktopId = DESKTOP_ID;
// What the desktop is told while the board keeps the screen awake.
inline constexpr const char* KeepAwakeReason = "Showing the control board";
