#include "DisplayKeeper.h"
#include "DesktopInhibit.h"
#include "WaylandIdleInhibit.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace fw {

namespace {

std::string& reasonText()
{
    static std::string text;
    return text;
}

int s_holds = 0;

xcb_connection_t* xConnection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The X server resumes by itself should the program end without asking.
void suspendXScreenSaver(bool suspend)
{
    xcb_connection_t* connection = xConnection();
    if (!connection)
        return;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_screensaver_id);
    if (!extension || !extension->present)
        return;
    xcb_screensaver_suspend(connection, suspend ? 1 : 0);
    xcb_flush(connection);
}

}

void DisplayKeeper::setReason(const std::string& reason)
{
    reasonText() = reason;
}

const std::string& DisplayKeeper::reason()
{
    return reasonText();
}

void DisplayKeeper::hold(QWindow* window)
{
    if (s_holds++ > 0)
        return;
    WaylandIdleInhibit::inhibit(window);
    DesktopInhibit::inhibit(window, reasonText());
    suspendXScreenSaver(true);
}

void DisplayKeeper::release()
{
    if (s_holds == 0 || --s_holds > 0)
        return;
    WaylandIdleInhibit::release();
    DesktopInhibit::release();
    suspendXScreenSaver(false);
}

bool DisplayKeeper::held()
{
    return s_holds > 0;
}

}
