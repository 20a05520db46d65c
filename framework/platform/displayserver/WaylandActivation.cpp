#include "WaylandActivation.h"
#include "WaylandClient.h"

#include "xdg-activation-v1-client-protocol.h"

#include <QtGlobal>
#include <string>
#include <wayland-client.h>

namespace fw::platform {

namespace {

void onToken(void* data, xdg_activation_token_v1*, const char* token)
{
    *static_cast<std::string*>(data) = token;
}

const xdg_activation_token_v1_listener TokenListener = { onToken };

}

void activateOnWayland(QWindow* window)
{
    wl_surface* surface = waylandSurface(window);
    if (!surface || !qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN"))
        return;
    WaylandQueue* queue = WaylandQueue::get();
    auto* activation = queue ? static_cast<xdg_activation_v1*>(queue->bind(&xdg_activation_v1_interface, 1)) : nullptr;
    if (!activation)
        return;
    std::string token;
    xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(activation);
    xdg_activation_token_v1_add_listener(request, &TokenListener, &token);
    xdg_activation_token_v1_set_surface(request, surface);
    xdg_activation_token_v1_commit(request);
    // The token comes at once; a compositor that does not answer in time gets no request.
    if (queue->roundTrip() && !token.empty())
        xdg_activation_v1_activate(activation, token.c_str(), surface);
    xdg_activation_token_v1_destroy(request);
    xdg_activation_v1_destroy(activation);
    queue->flush();
}

}
