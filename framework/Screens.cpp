#include "framework/Screens.h"
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

ConsoleUse useConsole(const std::string& screen)
{
    const platform::ConsoleStart start = platform::prepareConsole(screen);
    ConsoleUse use;
    use.result = static_cast<ConsoleUse::Result>(start.result);
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
