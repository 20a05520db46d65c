#include "DisplayKeeper.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace fw {

namespace {

constexpr auto Service = "org.freedesktop.ScreenSaver";
constexpr auto Path = "/org/freedesktop/ScreenSaver";
constexpr int CallTimeoutMs = 1000;

std::string& reasonText()
{
    static std::string text;
    return text;
}

int s_holds = 0;
uint s_cookie = 0;
bool s_haveCookie = false;

// A session bus the desktop set up. Without one, asking for it could make the D-Bus library
// launch a bus of its own, which would outlive the program.
bool haveSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

QDBusMessage screenSaverCall(const char* method, const QVariantList& arguments)
{
    if (!haveSessionBus())
        return QDBusMessage();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QDBusMessage();
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, CallTimeoutMs);
}

void inhibitDesktopScreenSaver()
{
    const QDBusMessage reply = screenSaverCall(
        "Inhibit", { QGuiApplication::applicationName(), QString::fromStdString(reasonText()) });
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        s_cookie = reply.arguments().constFirst().toUInt();
        s_haveCookie = true;
    }
}

void uninhibitDesktopScreenSaver()
{
    if (!s_haveCookie)
        return;
    screenSaverCall("UnInhibit", { s_cookie });
    s_haveCookie = false;
}

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

void DisplayKeeper::hold()
{
    if (s_holds++ > 0)
        return;
    inhibitDesktopScreenSaver();
    suspendXScreenSaver(true);
}

void DisplayKeeper::release()
{
    if (s_holds == 0 || --s_holds > 0)
        return;
    uninhibitDesktopScreenSaver();
    suspendXScreenSaver(false);
}

bool DisplayKeeper::held()
{
    return s_holds > 0;
}

}
