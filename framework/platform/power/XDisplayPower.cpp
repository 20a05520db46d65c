#include "DisplayPower.h"
#include "displayserver/XClient.h"

#include <xcb/dpms.h>

#include <cstdlib>
#include <memory>

namespace fw::platform {

namespace {

// DPMS was off on the server and switched on for the standby: switched off again on waking, so
// that the server's own timeouts are as the user set them.
bool enabledForStandby = false;

// The server is asked while it may be busy with a frame, and answers once it has switched the
// monitor, which can take a second or more: a cue waits that long at most.
constexpr int ServerTimeoutMs = 5000;

template <typename T>
std::unique_ptr<T, decltype(&std::free)> reply(xcb_connection_t* connection, unsigned int sequence)
{
    return { static_cast<T*>(xReply(connection, sequence, ServerTimeoutMs)), &std::free };
}

}

// The level is forced, which the server allows only while DPMS is enabled; the screen saver
// the display hold suspends stays suspended (it stops the server's timeouts, not this).
// Afterwards the level is read back: a server that took the request and did nothing (no
// monitor that listens) says so.
std::string setXDisplayPower(bool on)
{
    xcb_connection_t* connection = xConnection();
    if (!connection)
        return "there is no X connection";
    switch (xExtension(connection, &xcb_dpms_id)) {
    case XExtension::Unanswered:
        return "the X server did not answer in time";
    case XExtension::Absent:
        return "the X server has no display power management (DPMS)";
    case XExtension::Present:
        break;
    }
    const auto capable = reply<xcb_dpms_capable_reply_t>(connection, xcb_dpms_capable(connection).sequence);
    if (!capable)
        return "the X server did not answer in time";
    if (!capable->capable)
        return "the X server's display cannot be switched off (DPMS)";
    const auto info = reply<xcb_dpms_info_reply_t>(connection, xcb_dpms_info(connection).sequence);
    if (!info)
        return "the X server did not answer in time";
    if (!on && !info->state) {
        xcb_dpms_enable(connection);
        enabledForStandby = true;
    }
    const uint16_t level = on ? XCB_DPMS_DPMS_MODE_ON : XCB_DPMS_DPMS_MODE_OFF;
    xcb_dpms_force_level(connection, level);
    if (on && enabledForStandby) {
        xcb_dpms_disable(connection);
        enabledForStandby = false;
    }
    const auto now = reply<xcb_dpms_info_reply_t>(connection, xcb_dpms_info(connection).sequence);
    if (!now)
        return "the X server did not answer in time";
    if (now->power_level != level)
        return std::string("the X server left its display ") + (now->power_level == XCB_DPMS_DPMS_MODE_ON ? "on" : "off");
    return {};
}

}
