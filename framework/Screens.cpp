#include "framework/Screens.h"
#include "ScreenChoice.h"

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

double largestDevicePixelRatio()
{
    double ratio = 1.0;
    for (QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

}
