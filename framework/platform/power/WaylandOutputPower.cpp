#include "DisplayPower.h"
#include "displayserver/WaylandClient.h"

#include "wlr-output-power-management-unstable-v1-client-protocol.h"

#include <QGuiApplication>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

namespace fw::platform {

namespace {

constexpr int SwitchTimeoutMs = 5000;

// What the compositor said of the output's power: its mode as the control was made and after
// each change, or that the control is of no use.
struct Heard {
    int mode = -1;
    bool failed = false;
};

void onMode(void* data, zwlr_output_power_v1*, uint32_t mode)
{
    static_cast<Heard*>(data)->mode = static_cast<int>(mode);
}

void onFailed(void* data, zwlr_output_power_v1*)
{
    static_cast<Heard*>(data)->failed = true;
}

const zwlr_output_power_v1_listener PowerListener = { onMode, onFailed };

}

// A control is made for the one request and destroyed after the compositor's answer: the mode
// set stays (nothing in the protocol puts it back when the control goes).
std::string setWaylandOutputPower(QScreen* screen, bool on)
{
    WaylandQueue* queue = WaylandQueue::get();
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto* output = native && screen ? static_cast<wl_output*>(native->nativeResourceForScreen("output", screen)) : nullptr;
    if (!queue || !output)
        return "the compositor names no output for the board";
    bool answered = false;
    auto* manager = static_cast<zwlr_output_power_manager_v1*>(queue->bindOnce(&zwlr_output_power_manager_v1_interface,
        1, [](void* kept) { zwlr_output_power_manager_v1_destroy(static_cast<zwlr_output_power_manager_v1*>(kept)); },
        &answered));
    if (!answered)
        return "the compositor did not answer in time";
    if (!manager)
        return "the compositor offers no way to switch its outputs off (wlr-output-power-management)";
    Heard heard;
    zwlr_output_power_v1* power = zwlr_output_power_manager_v1_get_output_power(manager, output);
    zwlr_output_power_v1_add_listener(power, &PowerListener, &heard);
    const uint32_t mode = on ? ZWLR_OUTPUT_POWER_V1_MODE_ON : ZWLR_OUTPUT_POWER_V1_MODE_OFF;
    zwlr_output_power_v1_set_mode(power, mode);
    // Answered once the compositor has switched the output, which can take a second or more.
    const bool done = queue->roundTrip(SwitchTimeoutMs);
    zwlr_output_power_v1_destroy(power);
    queue->flush();
    if (!done)
        return "the compositor did not answer in time";
    if (heard.failed || heard.mode != static_cast<int>(mode))
        return std::string("the compositor would not switch the output ") + (on ? "on" : "off");
    return {};
}

}
