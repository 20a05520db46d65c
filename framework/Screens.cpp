#include "Screens.h"
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
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == wanted) {
            s_chosen = wanted;
            return true;
        }
    }
    return false;
}

QScreen* chosenScreen()
{
    if (s_chosen.isEmpty())
        return nullptr;
    // Looked up by name each time: screens come and go while the program runs.
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->name() == s_chosen)
            return screen;
    }
    return nullptr;
}

double largestDevicePixelRatio()
{
    double ratio = 1.0;
    for (QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

}
