#include "platform/Platform.h"
#include "DesktopInhibit.h"
#include "KeepAwakeChannel.h"
#include "WaylandIdleInhibit.h"
#include "XClient.h"

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace fw::platform {

namespace {

std::string& reasonText()
{
    static std::string text;
    return text;
}

int s_holds = 0;
bool s_xSuspended = false;

enum class Extension { Unanswered, Absent, Present };

// The server's screen-saver extension, asked without a wait that has no end: a server that
// does not answer in time is asked again later.
Extension screenSaverExtension(xcb_connection_t* connection)
{
    static bool known = false;
    if (!known) {
        xcb_prefetch_extension_data(connection, &xcb_screensaver_id);
        // Answered after the extension query, since the server answers in order.
        const xcb_get_input_focus_cookie_t probe = xcb_get_input_focus(connection);
        xcb_flush(connection);
        void* answer = xReply(connection, probe.sequence);
        if (!answer)
            return Extension::Unanswered;
        std::free(answer);
        known = true;
    }
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_screensaver_id);
    return extension && extension->present ? Extension::Present : Extension::Absent;
}

void suspendXScreenSaver();

KeepAwakeChannel& xChannel()
{
    static auto* channel = new KeepAwakeChannel(QStringLiteral("the X server"), suspendXScreenSaver);
    return *channel;
}

// The X server resumes by itself should the program end without asking.
void suspendXScreenSaver()
{
    xcb_connection_t* connection = xConnection();
    if (!connection || s_holds == 0 || s_xSuspended)
        return;
    switch (screenSaverExtension(connection)) {
    case Extension::Unanswered:
        xChannel().failed(QStringLiteral("did not answer in time"));
        return;
    case Extension::Absent:
        xChannel().absent();
        return;
    case Extension::Present:
        xcb_screensaver_suspend(connection, 1);
        xcb_flush(connection);
        s_xSuspended = true;
        xChannel().held();
        return;
    }
}

void resumeXScreenSaver()
{
    xcb_connection_t* connection = xConnection();
    if (!connection)
        return;
    xChannel().stop();
    if (!s_xSuspended)
        return;
    s_xSuspended = false;
    xcb_screensaver_suspend(connection, 0);
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
    suspendXScreenSaver();
}

void DisplayKeeper::release()
{
    if (s_holds == 0 || --s_holds > 0)
        return;
    WaylandIdleInhibit::release();
    DesktopInhibit::release();
    resumeXScreenSaver();
}

}
