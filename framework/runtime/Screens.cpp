#include "Screens.h"
#include "Life.h"
#include "Runtime.h"
#include "ScreenChoice.h"
#include "TerminationSignals.h"
#include "cues/CueLinks.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace fw {

namespace {
// Where windows show (useScreen); none: where the system puts them.
std::string s_chosenScreen;
}

std::vector<std::string> screenNames()
{
    std::vector<std::string> names;
    for (QScreen* screen : QGuiApplication::screens())
        names.push_back(screen->name().toStdString());
    return names;
}

bool useScreen(const std::string& name)
{
    const QString wanted = QString::fromStdString(name);
    if (!screenNamed(wanted))
        return false;
    s_chosenScreen = name;
    return true;
}

QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

QScreen* chosenScreen()
{
    // Looked up by name each time: screens come and go while the program runs.
    return s_chosenScreen.empty() ? nullptr : screenNamed(QString::fromStdString(s_chosenScreen));
}

ConsoleUse useConsole(const std::string& screen, const std::function<void(const std::string&)>& tell)
{
    // From here on the terminal may be taken: a stop request must give it back.
    catchTerminationSignals();
    std::unique_ptr<platform::ConsoleRun>& run = consoleRun();
    ConsoleUse use = platform::prepareConsole(screen, run);
    if (use.result == ConsoleUse::NoScreenYet) {
        tell(use.message);
        // Watched before looking again: nothing that comes in between goes unheard.
        platform::DisplayWatch watch;
        for (use = platform::prepareConsole(screen, run); use.result == ConsoleUse::NoScreenYet;
             use = platform::prepareConsole(screen, run)) {
            // A service manager's watchdog hears that the program is alive while it waits.
            int wait = watch.lookAgainMilliseconds();
            if (const int alive = platform::aliveIntervalMilliseconds(); alive > 0)
                wait = wait < 0 ? alive : std::min(wait, alive);
            if (const int stopped = waitUnlessStopped(watch.descriptor(), wait))
                return ConsoleUse { .result = ConsoleUse::Stopped, .message = {}, .screens = {}, .status = stopped };
            platform::tellAlive();
            watch.forgetChanges();
        }
        // A show's cues from minutes or hours ago are no cues for the board that shows now.
        dropWaitingCues("that came while waiting for a screen");
    }
    return use;
}

namespace {
int s_turn = 0;
}

void turnWindows(int degrees)
{
    s_turn = degrees;
}

int windowTurn()
{
    return s_turn;
}

namespace {

bool s_displayOff = false;
// The screen switched off: the one switched on again, whichever window shows by then.
QPointer<QScreen> s_screenOff;
// How long the end of the program waits for a television to be told to come on.
constexpr int TelevisionWaitMs = 2000;

// The screen the program shows on: its first window's that shows.
QScreen* shownScreen()
{
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible())
            return window->screen();
    }
    return QGuiApplication::primaryScreen();
}

bool switchDisplay(bool on)
{
    if (s_displayOff != on)
        return true;
    QScreen* screen = on && s_screenOff ? s_screenOff.data() : shownScreen();
    // A television told over HDMI-CEC is a display switched, whatever the rest could do.
    bool televisionTold = false;
    const std::string why = platform::setDisplayPower(screen, on, televisionTold);
    if (!why.empty()) {
        sayLine(std::string("cannot switch the display ") + (on ? "on" : "off") + ": " + why
            + (televisionTold ? " (the television is told over HDMI-CEC)" : ""));
        if (!on && !televisionTold)
            return false;
    }
    s_displayOff = !on;
    s_screenOff = on ? nullptr : screen;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        window->setUpdatesEnabled(on);
        if (on)
            window->update();
    }
    announceStandby(!on);
    return true;
}

}

void displayStandby()
{
    static bool backOnAtTheEnd = false;
    if (!switchDisplay(false) || std::exchange(backOnAtTheEnd, true))
        return;
    Runtime::atShutDown([] {
        backOnAtTheEnd = false;
        if (s_displayOff)
            switchDisplay(true);
        platform::waitForTelevisions(TelevisionWaitMs);
    });
}

void displayWake()
{
    switchDisplay(true);
}

double largestDevicePixelRatio()
{
    double ratio = 1.0;
    for (QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

}
