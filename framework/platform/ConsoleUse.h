#pragma once

#include <string>
#include <vector>

namespace fw {

// What came of asking to show on the Linux console (useConsole).
struct ConsoleUse {
    // NoScreenYet: nothing to show on yet (a display driver still loading, nothing plugged in,
    // the screen named not connected): the layer waits for one, and never gives this back.
    enum Result { Ready, UnknownScreen, CannotStart, NoScreenYet, Stopped } result = Ready;
    std::string message; // CannotStart: why, in one line; NoScreenYet: what is awaited; Ready: a warning, or empty
    std::vector<std::string> screens; // UnknownScreen: the connected ones
    int status = 0; // Stopped: the status to end with
};

}
