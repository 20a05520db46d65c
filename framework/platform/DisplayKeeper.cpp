#include "DisplayKeeper.h"
#include "DesktopInhibit.h"
#include "WaylandIdleInhibit.h"
#include "XClient.h"

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace fw {

namespace {

std::string& reasonText()
{
    static std::string text;
    return text;
}

int s_holds = 0;

// Whether the server has told the connection about its screen-saver extension, asked without
// a wait that has no end: a server that does not answer in time is not asked to suspend it.
bool screenSaverExtensionKnown(xcb_connection_t* connection)
{
    static bool known = false;
    if (known)
        return true;
    xcb_prefetch_extension_data(connection, &xcb_screensaver_id);
    // Answered after the extension query, since the server answers in order.
    const xcb_get_input_focus_cookie_t probe = xcb_get_input_focus(connection);
    xcb_flush(connection);
    void* answer = x::reply(connection, probe.sequence);
    if (!answer)
        return false;
    std::free(answer);
    known = true;
    return true;
}

// The X server resumes by itself should the program end without asking.
void suspendXScreenSaver(bool suspend)
{
    xcb_connection_t* connection = x::connection();
    if (!connection || !screenSaverExtensionKnown(connection))
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
