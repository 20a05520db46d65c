#pragma once

// The ways to switch a display off and on again, one for each display system, and the
// television told over HDMI-CEC. Each gives an empty string when it did, otherwise why not.
#include <string>

class QScreen;

namespace fw::platform {

// The X server's display power management (DPMS), for every screen of the server.
std::string setXDisplayPower(bool on);
// The compositor's output power protocol (wlroots' output power management), for the output.
std::string setWaylandOutputPower(QScreen* screen, bool on);
// On the console: the DPMS of every connector the toolkit's card drives.
std::string setConnectorPower(bool on);
// Every HDMI-CEC adapter the kernel has tells the television: Standby, or Image View On and
// Active Source. In the background; a television that answers nothing changes nothing else.
// False where the kernel has no adapter.
bool tellTelevisions(bool on);

}
