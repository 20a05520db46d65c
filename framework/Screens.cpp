#include "framework/Screens.h"
#include "RuntimeState.h"
#include "ScreenChoice.h"
#include "platform/Platform.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace fw {

namespace {
QString s_chosen;
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
    s_chosen = wanted;
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
    return s_chosen.isEmpty() ? nullptr : screenNamed(s_chosen);
}

ConsoleUse useConsole(const std::string& screen, const std::function<void(const std::string&)>& tell)
{
    // From here on the terminal may be taken: a stop request must give it back.
    catchTerminationSignals();
    platform::ConsoleStart start = platform::prepareConsole(screen);
    if (start.result == platform::ConsoleStart::NoScreenYet) {
        tell(start.problem);
        // Watched before looking again: nothing that comes in between goes unheard.
        platform::DisplayWatch watch;
        for (start = platform::prepareConsole(screen); start.result == platform::ConsoleStart::NoScreenYet;
             start = platform::prepareConsole(screen)) {
            if (const int stopped = waitUnlessStopped(watch.descriptor(), watch.lookAgainMilliseconds())) {
                ConsoleUse use;
                use.result = ConsoleUse::Stopped;
                use.status = stopped;
                return use;
            }
            watch.take();
        }
    }
    ConsoleUse use;
    switch (start.result) {
    case platform::ConsoleStart::UnknownScreen:
        use.result = ConsoleUse::UnknownScreen;
        break;
    case platform::ConsoleStart::CannotStart:
        use.result = ConsoleUse::CannotStart;
        break;
    default:
        use.result = ConsoleUse::Ready;
    }
    use.message = start.result == platform::ConsoleStart::CannotStart ? start.problem : start.warning;
    use.screens = start.screens;
    return use;
}

double largestDevicePixelRatio()
{
    double ratio = 1.0;
    for (QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

}
