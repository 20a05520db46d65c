#pragma once

// The one door to what lies beneath the toolkit: everything the layer asks of the display
// server, the desktop and the kernel.
#include "ConsoleUse.h"

#include <memory>
#include <string>
#include <vector>

class QObject;
class QScreen;
class QTemporaryFile;
class QWidget;
class QWindow;
struct udev;
struct udev_monitor;

namespace fw::platform {

// The program's name in its lines on standard error: the file it was started from.
const char* programName();

// Before the toolkit starts: no session bus is asked for unless one runs. On Wayland, the
// toolkit draws no title bars where the compositor draws them, or where every window covers its
// screen (`onlyFullScreen`): it then loads no OpenGL at all, which it would only to learn
// whether it may draw them. A user's own choice of either wins.
void beforeToolkitStarts(bool onlyFullScreen);
// Right before the toolkit disconnects from the display server.
void beforeToolkitDisconnects();
// The program's icon, read from `file` once the event loop runs (so that reading it does not
// delay the first window), for a display server that shows a window's own: only X does; a
// Wayland compositor takes it from the desktop entry, and the console shows none.
void showIconFrom(const std::string& file);
// A full-screen window that the display server has not given the keyboard asks for it.
void askForKeyboard(QWindow* window);
// A full-screen window has been shown: nothing of the desktop's own stays over it. The first
// one of a program started with the desktop session (its autostart entry shows the board at
// once) also gets what the desktop opens at login over every window out of its way.
void fullScreenShown(QWindow* window, bool firstOfASessionStart);
// Whether the display system places full-screen windows itself when screens change: a
// compositor always does, an X server only through a window manager.
bool displaySystemPlacesWindows();

// The Linux console the program was started from, with no display server: before the toolkit
// starts, its platform for the console is chosen (unless QT_QPA_PLATFORM names one) and the
// screen named (a connector such as HDMI-A-1) made the only one; the terminal goes into
// graphics mode until the run there ends, or giveConsoleBack(), which a crash or SIGQUIT
// calls too before the signal's own action ends the program. Ready, it gives `run`.
class ConsoleRun;
fw::ConsoleUse prepareConsole(const std::string& screen, std::unique_ptr<ConsoleRun>& run); // never Stopped
// The run on the console: what the platform keeps there for the toolkit.
class ConsoleRun {
public:
    ConsoleRun();
    ~ConsoleRun(); // gives the console back
    ConsoleRun(const ConsoleRun&) = delete;
    ConsoleRun& operator=(const ConsoleRun&) = delete;
    // Once the toolkit has started, and before it ends.
    void toolkitStarted();
    void toolkitEnds();

private:
    friend fw::ConsoleUse prepareConsole(const std::string& screen, std::unique_ptr<ConsoleRun>& run);
    std::unique_ptr<QTemporaryFile> m_screenConfig; // until the toolkit has read it
    std::unique_ptr<QWidget> m_backdrop; // on eglfs, under every window
};
// Hears of the kernel's display devices coming, going and changing (a driver loaded, a screen
// plugged in or out) through udev, from its making on; where udev does not run, it tells
// every few seconds instead.
class DisplayWatch {
public:
    DisplayWatch();
    ~DisplayWatch();
    DisplayWatch(const DisplayWatch&) = delete;
    DisplayWatch& operator=(const DisplayWatch&) = delete;
    // A descriptor that becomes readable when something changed, and how long a wait on it
    // may last before it is worth looking again (-1: for ever).
    int descriptor() const;
    int lookAgainMilliseconds() const;
    // What it told is forgotten: the descriptor waits for the next change.
    void forgetChanges();

private:
    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
};
// The service manager that started the program (systemd's notify units), if any: told that the
// program is ready, once its first frame is on the screen; and, where it watches, told that the
// program is alive at least every aliveIntervalMilliseconds() (0 where nothing watches), by the
// window's thread: a loop that stops turning ends the program and starts it again.
void tellReady();
int aliveIntervalMilliseconds();
void tellAlive();
// From the toolkit's start on, told by a timer of the window's thread.
void tellAliveWhileTheLoopTurns();
// The terminal back in the mode it had, with its keyboard as it was. Safe in a signal handler.
void giveConsoleBack() noexcept;
// The crash path's stack of its own on a thread of the program's own, made as the thread
// starts, so that a stack overflow there still gives the console back.
class CrashStack {
public:
    CrashStack();
    ~CrashStack();
    CrashStack(const CrashStack&) = delete;
    CrashStack& operator=(const CrashStack&) = delete;

private:
    std::unique_ptr<char[]> m_stack;
};

// Keeps the display awake while a full-screen window shows, through every channel a desktop
// listens to: an idle inhibitor on the window's Wayland surface, the desktop's ScreenSaver
// service and portal on the session bus, and on X the server's own screen saver and display
// power saving, suspended. A channel the system does not offer is skipped silently; one that
// does not answer in time, or is lost (a desktop service restarted), is asked again for as
// long as the hold lasts, and standard error tells its story. Each window has a hold of its
// own, in force while it shows; it ends with the window, or when released. The desktop is
// told `reason`, the application's words.
void keepDisplayAwake(QWindow* window, const std::string& reason);
void releaseDisplay(QWindow* window);

// The display the screen is on switched off (standby) or on again, through what the display
// system offers: the X server's display power management (DPMS), the compositor's output power
// protocol (wlroots'), the console's connector (its DPMS). Where the kernel has HDMI-CEC adapters,
// the television is told too (Standby; Image View On and Active Source), in the background, and
// `televisionTold` says so. Empty when the display was switched; otherwise why not, in words for
// one line, and the display is as it was.
std::string setDisplayPower(QScreen* screen, bool on, bool& televisionTold);
// Waits, at most this long, for the televisions to have been told (before the program ends).
void waitForTelevisions(int milliseconds);

// A full-screen window's first frame goes into a buffer of several megabytes (8 MB at
// 1920x1080, 33 MB at 3840x2160) that the kernel hands over page by page as it is first
// written: on the first paint, after the window manager has mapped the window. This sizes the
// buffer when the window is shown and has its pages faulted in on a helper thread, while the
// window manager frames and maps the window, so the first frame waits for its drawing only.
// Only the page tables change, never the buffer's contents. The helper is joined before
// anything paints into the buffer, resizes it or frees it, and when the object returned goes.
// Nothing is done where the buffer is not one plain image before the first paint (Wayland
// hands out a buffer per frame) or cannot be prefaulted.
std::unique_ptr<QObject> prefaultFirstFrame(QWidget& window);

}
