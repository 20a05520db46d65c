#pragma once

#include "CueWords.h"
#include "framework/Application.h"

#include <chrono>
#include <functional>
#include <optional>

// The application object: one per process.
class App : public fw::Application {
public:
    App() { Constructor(); }

    void Constructor() { }
    void Event_Open() override;
    // A cue it knows goes to the handler; any other text gets a line on standard error, at
    // most one a second, however many come.
    void Event_Cue(const std::string& text) override;

    std::function<void(const Cue&)> onCue;

private:
    std::optional<std::chrono::steady_clock::time_point> m_lastIgnored;
};

inline constexpr const char* ApplicationName = "Velquarin Control Board";
// The id of the desktop entry and icon, where a name may hold no blank.
inline constexpr const char* DesktopId = DESKTOP_ID;
// What the desktop is told while the board keeps the screen awake.
inline constexpr const char* KeepAwakeReason = "Showing the control board";
