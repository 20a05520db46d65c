#include "platform/Platform.h"
#include "DesktopInhibit.h"
#include "KeepAwakeChannel.h"
#include "WaylandIdleInhibit.h"
#include "displayserver/XClient.h"

#include <QEvent>
#include <QWindow>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace fw::platform {

namespace {

// The X server's screen saver and display power saving, suspended while the object lives. The
// server counts each client's suspensions, and resumes by itself should the program end
// without asking.
class XScreenSaverSuspension {
public:
    XScreenSaverSuspension()
        : m_channel(QStringLiteral("the X server"), [this] { suspend(); })
    {
        suspend();
    }
    ~XScreenSaverSuspension()
    {
        xcb_connection_t* connection = xConnection();
        if (!m_suspended || !connection)
            return;
        xcb_screensaver_suspend(connection, 0);
        xcb_flush(connection);
    }
    XScreenSaverSuspension(const XScreenSaverSuspension&) = delete;
    XScreenSaverSuspension& operator=(const XScreenSaverSuspension&) = delete;

private:
    void suspend()
    {
        xcb_connection_t* connection = xConnection();
        if (!connection || m_suspended)
            return;
        switch (xExtension(connection, &xcb_screensaver_id)) {
        case XExtension::Unanswered:
            return m_channel.failed(QStringLiteral("did not answer in time"));
        case XExtension::Absent:
            return m_channel.absent();
        case XExtension::Present:
            xcb_screensaver_suspend(connection, 1);
            // Suspending only stops the saver's timer: one that came on first (the server slow
            // to answer, or the board shown over a blank screen at boot) goes off too.
            xcb_force_screen_saver(connection, XCB_SCREEN_SAVER_RESET);
            xcb_flush(connection);
            m_suspended = true;
            return m_channel.held();
        }
    }

    KeepAwakeChannel m_channel;
    bool m_suspended = false;
};

// A window's hold: every channel, while the window shows. It begins once the window's first
// frame is out (the channels ask the display server and the bus, some with a round trip, which
// would hold that frame back), and ends when the window hides. A child of the window, it ends
// with it at the latest.
class DisplayHold : public QObject {
    Q_OBJECT

public:
    DisplayHold(QWindow* window, const std::string& reason)
        : QObject(window)
        , m_window(window)
        , m_reason(reason)
    {
        window->installEventFilter(this);
        if (window->isVisible() && window->isExposed())
            beginAfterThisFrame();
    }
    ~DisplayHold() override { end(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The toolkit draws a window's frame as it handles the Expose: what is posted now runs
        // once that frame has gone to the display server.
        if (event->type() == QEvent::Expose && m_window->isVisible() && m_window->isExposed())
            beginAfterThisFrame();
        else if (event->type() == QEvent::Hide)
            end();
        return QObject::eventFilter(watched, event);
    }

private:
    void beginAfterThisFrame()
    {
        if (m_screenSaver || m_beginPosted)
            return;
        m_beginPosted = true;
        QMetaObject::invokeMethod(this, [this] {
            m_beginPosted = false;
            if (m_window->isVisible())
                begin();
        }, Qt::QueuedConnection);
    }
    void begin()
    {
        if (m_screenSaver)
            return;
        m_wayland = std::make_unique<WaylandIdleInhibit>(m_window);
        m_screenSaver = std::make_unique<DesktopInhibit>(DesktopInhibit::ScreenSaver, m_window, m_reason);
        // Both are asked, not only the first that grants: the portal answers success also where
        // its backend's request was refused (GNOME's session manager refuses one from a program
        // outside a sandbox), while GNOME's own ScreenSaver service passes the hold on.
        m_portal = std::make_unique<DesktopInhibit>(DesktopInhibit::Portal, m_window, m_reason);
        m_x = std::make_unique<XScreenSaverSuspension>();
    }
    void end()
    {
        if (!m_screenSaver)
            return;
        DesktopInhibit::giveBack({ m_screenSaver.get(), m_portal.get() });
        m_screenSaver.reset();
        m_portal.reset();
        m_wayland.reset();
        m_x.reset();
    }

    QWindow* const m_window;
    const std::string m_reason;
    bool m_beginPosted = false;
    std::unique_ptr<WaylandIdleInhibit> m_wayland;
    std::unique_ptr<DesktopInhibit> m_screenSaver;
    std::unique_ptr<DesktopInhibit> m_portal;
    std::unique_ptr<XScreenSaverSuspension> m_x;
};

}

void keepDisplayAwake(QWindow* window, const std::string& reason)
{
    if (window && !window->findChild<DisplayHold*>(QString(), Qt::FindDirectChildrenOnly))
        new DisplayHold(window, reason);
}

void releaseDisplay(QWindow* window)
{
    if (window)
        delete window->findChild<DisplayHold*>(QString(), Qt::FindDirectChildrenOnly);
}

}

#include "DisplayHold.moc"
