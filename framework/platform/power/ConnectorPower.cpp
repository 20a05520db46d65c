#include "DisplayPower.h"

#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace fw::platform {

namespace {

// The toolkit's descriptor of the card it drives, found among the program's own: the one of a
// card that holds the card's mode setting (its master). Only it may change a connector.
int toolkitCard()
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (error || target.rfind("/dev/dri/card", 0) != 0)
            continue;
        const int descriptor = std::atoi(entry.path().filename().c_str());
        if (drmIsMaster(descriptor))
            return descriptor;
    }
    return -1;
}

// The connector's DPMS property, or 0 where it has none.
uint32_t dpmsProperty(int card, uint32_t connector)
{
    drmModeObjectProperties* properties = drmModeObjectGetProperties(card, connector, DRM_MODE_OBJECT_CONNECTOR);
    uint32_t found = 0;
    for (uint32_t i = 0; properties && i < properties->count_props && !found; ++i) {
        if (drmModePropertyRes* property = drmModeGetProperty(card, properties->props[i])) {
            if (std::string_view(property->name) == "DPMS")
                found = property->prop_id;
            drmModeFreeProperty(property);
        }
    }
    drmModeFreeObjectProperties(properties);
    return found;
}

}

// Every connector that drives a picture now (it has an encoder on a CRTC): the console shows on
// one screen, and a screen switched off is one the program shows on.
std::string setConnectorPower(bool on)
{
    const int card = toolkitCard();
    if (card < 0)
        return "the program does not drive the card's screens itself";
    drmModeRes* resources = drmModeGetResources(card);
    if (!resources)
        return std::string("the card's screens cannot be read: ") + std::strerror(errno);
    std::string why = "no screen shows the board";
    bool switched = false;
    for (int i = 0; i < resources->count_connectors; ++i) {
        drmModeConnector* connector = drmModeGetConnector(card, resources->connectors[i]);
        if (connector && connector->connection == DRM_MODE_CONNECTED && connector->encoder_id) {
            const uint32_t property = dpmsProperty(card, connector->connector_id);
            if (!property)
                why = "the card's screen cannot be switched off (no DPMS)";
            else if (drmModeConnectorSetProperty(card, connector->connector_id, property,
                         on ? DRM_MODE_DPMS_ON : DRM_MODE_DPMS_OFF) != 0)
                why = std::string("the card would not switch its screen ") + (on ? "on: " : "off: ") + std::strerror(errno);
            else
                switched = true;
        }
        drmModeFreeConnector(connector);
    }
    drmModeFreeResources(resources);
    return switched ? std::string() : why;
}

}
