// What the toolkit's life asks beneath it (its start and end, its full-screen windows, who places
// them), each handed to the part that does it; and the program's name for its lines.
#include "platform/Platform.h"
#include "awake/GnomeOverview.h"
#include "awake/SessionBus.h"
#include "displayserver/WaylandActivation.h"
#include "displayserver/WaylandClient.h"
#include "displayserver/XClient.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <cerrno>

namespace fw::platform {

const char* programName()
{
    return program_invocation_short_name;
}

void beforeToolkitStarts(bool onlyFullScreen)
{
    useOnlyARunningSessionBus();
    routeWaylandLogThroughToolkit();
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool maybeWayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && (platform.isEmpty() || platform.startsWith("wayland"));
    const bool userChose = qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION")
        || qEnvironmentVariableIsSet("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION");
    if (maybeWayland && !userChose && (onlyFullScreen || compositorDrawsTitleBars()))
        qputenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
}

void beforeToolkitDisconnects()
{
    WaylandQueue* queue = WaylandQueue::get();
    if (!queue)
        return;
    // The toolkit's event thread reads the connection once the main thread has prepared a read
    // for it, which the main thread does whenever its loop wakes or sleeps. Should the toolkit
    // stop that thread before it has taken up a read prepared for it, the read is never taken
    // and its frame thread waits for it for ever, and so does the program at exit. A round trip
    // of our own reads alongside it: once it is over, no read is left waiting for that thread.
    queue->roundTrip();
    WaylandQueue::end();
}

void askForKeyboard(QWindow* window)
{
    activateOnWayland(window);
}

void fullScreenShown(QWindow* window, bool firstOfASessionStart)
{
    if (firstOfASessionStart)
        closeSessionStartOverview(window);
}

bool displaySystemPlacesWindows()
{
    return !xConnection() || windowManagerRuns();
}

void showIconFrom(const std::string& file)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    QTimer::singleShot(0, qApp, [iconFile = QString::fromStdString(file)] {
        // A window hands its icon to the window manager as raw pixels (on X, a property that
        // the window manager reads while it maps the window): small sizes only, as taskbars and
        // switchers show it. Larger icons come from the desktop entry's themed one.
        const QImage image(iconFile);
        if (image.isNull())
            return;
        QIcon icon;
        for (int size : { 16, 32, 48 })
            icon.addPixmap(QPixmap::fromImage(image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        QGuiApplication::setWindowIcon(icon);
    });
}

}
