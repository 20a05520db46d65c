#include "framework/Screens.h"
#include "RuntimeState.h"
#include "ScreenChoice.h"
#include "platform/Platform.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace fw {

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
    runtimeState().chosenScreen = name;
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
    const std::string& chosen = runtimeState().chosenScreen;
    return chosen.empty() ? nullptr : screenNamed(QString::fromStdString(chosen));
}

ConsoleUse useConsole(const std::string& screen, const std::function<void(const std::string&)>& tell)
{
    // From here on the terminal may be taken: a stop request must give it back.
    catchTerminationSignals();
    std::unique_ptr<platform::ConsoleRun>& run = runtimeState().console;
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
            watch.take();
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

double largestDevicePixelRatio()
{
    double ratio = 1.0;
    for (QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

}
