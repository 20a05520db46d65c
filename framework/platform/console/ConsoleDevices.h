#pragma once

// The console's devices as the kernel and udev describe them: the DRM cards with their
// outputs, who may open them, and the keyboards.
#include <string>
#include <vector>

namespace fw::platform {

struct DrmOutput {
    std::string name; // the kernel's connector name: HDMI-A-1, Virtual-1
    std::string toolkitName; // the toolkit's name for the same connector: HDMI1, Virtual1
    bool connected = false;
};

struct DrmCard {
    std::string device; // /dev/dri/card0
    std::string renderNode; // /dev/dri/renderD128, or empty
    std::vector<DrmOutput> outputs;
};

// The cards that drive outputs (a Raspberry Pi's 3D engine has a card of its own without
// any), in the kernel's order.
std::vector<DrmCard> drmCards();
// The groups, comma-separated, that the user would need to be in to open the display device,
// its render node and the input devices; empty when the user may open them.
std::string missingGroups(const std::string& display, const std::string& renderNode);
// Whether another program drives the card (a display server is its DRM master).
bool heldByAnother(const std::string& card);
// Whether udev has told of a keyboard among the input devices, as libinput needs it to.
bool keyboardKnownToUdev();

}
