#include "XClient.h"
#include "Wait.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcbext.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace fw::platform {

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> replyTo(xcb_connection_t* connection, unsigned int sequence)
{
    return Reply<T>(static_cast<T*>(xReply(connection, sequence)), &std::free);
}

// The window a window's _NET_SUPPORTING_WM_CHECK names, or none.
xcb_window_t checkWindow(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t check)
{
    const auto cookie = xcb_get_property(connection, 0, window, check, XCB_ATOM_WINDOW, 0, 1);
    xcb_flush(connection);
    const auto property = replyTo<xcb_get_property_reply_t>(connection, cookie.sequence);
    if (!property || property->type != XCB_ATOM_WINDOW || property->format != 32
        || xcb_get_property_value_length(property.get()) != sizeof(xcb_window_t))
        return XCB_WINDOW_NONE;
    xcb_window_t named;
    std::memcpy(&named, xcb_get_property_value(property.get()), sizeof named);
    return named;
}

}

xcb_connection_t* xConnection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

XExtension xExtension(xcb_connection_t* connection, xcb_extension_t* extension)
{
    xcb_prefetch_extension_data(connection, extension);
    // Answered after the extension query, since the server answers in order.
    const xcb_get_input_focus_cookie_t probe = xcb_get_input_focus(connection);
    void* answer = xReply(connection, probe.sequence);
    if (!answer)
        return XExtension::Unanswered;
    std::free(answer);
    const xcb_query_extension_reply_t* present = xcb_get_extension_data(connection, extension);
    return present && present->present ? XExtension::Present : XExtension::Absent;
}

void* xReply(xcb_connection_t* connection, unsigned int sequence, int milliseconds)
{
    xcb_flush(connection); // the request, if it is still in the connection's buffer
    void* answer = nullptr;
    xcb_generic_error_t* error = nullptr;
    bool broken = false;
    const bool answered = waitWithin(QDeadlineTimer(milliseconds), [&] {
        broken = xcb_connection_has_error(connection) != 0;
        return broken || xcb_poll_for_reply(connection, sequence, &answer, &error) != 0;
    });
    if (!answered || broken) {
        xcb_discard_reply(connection, sequence);
        return nullptr;
    }
    std::free(error);
    return answer;
}

bool windowManagerRuns()
{
    xcb_connection_t* c = xConnection();
    if (!c)
        return false;
    static constexpr char name[] = "_NET_SUPPORTING_WM_CHECK";
    const auto atomCookie = xcb_intern_atom(c, 1, sizeof name - 1, name);
    xcb_flush(c);
    const auto atom = replyTo<xcb_intern_atom_reply_t>(c, atomCookie.sequence);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    // The manager names a window of its own on the root, which names itself: a stale name
    // left by a manager that has gone names a window that is gone or names nothing.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_window_t own = checkWindow(c, root, atom->atom);
    return own != XCB_WINDOW_NONE && checkWindow(c, own, atom->atom) == own;
}

}
