#include "platform/Platform.h"
#include "DisplayPower.h"

#include <QGuiApplication>

namespace fw::platform {

std::string setDisplayPower(QScreen* screen, bool on, bool& televisionTold)
{
    const QString system = QGuiApplication::platformName();
    std::string why;
    if (system == QLatin1String("xcb"))
        why = setXDisplayPower(on);
    else if (system == QLatin1String("wayland"))
        why = setWaylandOutputPower(screen, on);
    else if (system == QLatin1String("eglfs") || system == QLatin1String("linuxfb"))
        why = setConnectorPower(on);
    else
        why = "the display system offers no way to switch its display off";
    televisionTold = tellTelevisions(on);
    return why;
}

}
