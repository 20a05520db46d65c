#pragma once

// The run as the layer's other rooms see it: the life cycle (Runtime.cpp) keeps it. Not for use
// outside the layer.
#include <memory>
#include <string>

namespace fw {

namespace platform {
class ConsoleRun;
}

// The open windows as the life cycle, which knows no window, sees them.
class OpenWindows {
public:
    // Every one leaves the screen now (a failure nobody handled).
    virtual void leaveScreen() = 0;
    virtual void hearUserSignal() = 0;
    // Every one is destroyed, open or closing (shut-down, tests).
    virtual void destroyAll() = 0;

protected:
    ~OpenWindows() = default;
};

// The window list hands itself over when it is first made; it lasts as long as the process.
void followWindows(OpenWindows& windows);

// On the Linux console, the run there (useConsole): made before the toolkit starts, given back
// after it has gone.
std::unique_ptr<platform::ConsoleRun>& consoleRun();

// What the desktop is told while a full-screen window keeps the display awake.
const std::string& keepAwakeReason();
// True for the first full-screen window of a program started with the desktop session, and
// only for it.
bool firstWindowOfTheSession();

}
