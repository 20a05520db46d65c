#pragma once

#include "Application.h"
#include "ExitStatus.h"
#include "../base/RuntimeException.h"
#include "../base/StandardError.h"

#include <functional>
#include <memory>
#include <string>

namespace fw {

// The application-wide life cycle: bring-up, the application object, initialisation, the
// event loop, quitting, failures nobody handled and shut-down.
class Runtime {
public:
    // Creates the toolkit's application unless one exists (tests make their own). Command
    // line arguments are not passed on; the program's name is taken for its messages.
    static void bringUp(int argc, char** argv);
    // What the one line said when there is no display to connect to advises instead of
    // starting the program inside a desktop session.
    static void adviseWithoutDisplay(const std::string& advice);
    // The program starts with the desktop session and shows its first full-screen window at
    // once (an autostart entry): what the desktop opens over every window at login (GNOME's
    // overview) is left for that window.
    static void startsWithTheSession();
    // Every window the program will show covers its screen and has no title bar: on Wayland
    // the toolkit then loads no OpenGL to draw title bars. Before bring-up.
    static void onlyFullScreen();
    // Closes every window, drops the application object and returns the exit status.
    static int shutDown();

    static void registerClassesAndPlugins();
    // The name users see (in messages too), the desktop entry's id, which also names the
    // icon, and what the desktop is told while a full-screen window keeps the display awake.
    static void describeApplication(const std::string& name, const std::string& desktopId,
        const std::string& keepAwakeReason);
    static void registerApplication(std::unique_ptr<Application> application);
    static Application* application();

    // Raises the application's Open event once, then calls lateStartup once; skips what
    // remains when a failure has ended the application meanwhile.
    static void completeInitialisation(void (*lateStartup)());
    // Delivers events until the application quits; returns at once when it already has.
    static void runEventLoop();

    static void quit(int status);
    static bool hasQuit();
    static int exitStatus();

    // Runs one event handler; a failure escaping it goes to handleUnhandledFailure. After
    // such a failure no handler runs any more.
    static void dispatch(const std::function<void()>& handler) noexcept;
    // Reports the failure on standard error, takes every window off the screen at once with
    // its hidden pointer (deleting them once the failing code has unwound) and ends the
    // application with UnhandledFailureStatus. Its message box shows from the main loop, or
    // when no loop runs, from runEventLoop or shutDown; a termination signal ends it.
    static void handleUnhandledFailure(const RuntimeException& failure) noexcept;

    // Runs at shut-down, before the toolkit goes: for objects that live for the whole run.
    static void atShutDown(std::function<void()> cleanup);

    // Tests: forget a previous run's state without tearing the toolkit down.
    static void resetForTesting();
};

// The application's quit operation.
inline void Quit(int status) { Runtime::quit(status); }

}
