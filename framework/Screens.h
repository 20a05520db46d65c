#pragma once

#include <string>
#include <vector>

namespace fw {

// The screens as the platform names them (X RandR outputs or monitors, Wayland outputs).
std::vector<std::string> screenNames();

// Windows show on the named screen from then on: one of fixed size centred on it, a
// full-screen one covering it. False, changing nothing, when no screen has that name.
bool useScreen(const std::string& name);

// Device pixels per layout pixel on the densest screen: what a picture needs to stay sharp
// on any of them.
double largestDevicePixelRatio();

}
