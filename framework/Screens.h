#pragma once

#include <string>
#include <vector>

namespace fw {

// The screens as the platform names them (X RandR outputs or monitors, Wayland outputs).
std::vector<std::string> screenNames();

// Windows show on the named screen from then on: one of fixed size centred on it, a
// full-screen one covering it. False, changing nothing, when no screen has that name.
bool useScreen(const std::string& name);

// Shows on the Linux console the program was started from, with no display server, through
// the kernel's mode setting; only on the screen named, if one is (a connector, as the kernel
// names it: HDMI-A-1). Before the runtime is brought up.
struct ConsoleUse {
    enum Result { Ready, UnknownScreen, CannotStart } result = Ready;
    std::string message; // CannotStart: why, in one line; Ready: a warning, or empty
    std::vector<std::string> screens; // UnknownScreen: the connected ones
};
ConsoleUse useConsole(const std::string& screen);

// Device pixels per layout pixel on the densest screen: what a picture needs to stay sharp
// on any of them.
double largestDevicePixelRatio();

}
