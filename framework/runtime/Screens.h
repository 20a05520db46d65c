#pragma once

#include "../platform/ConsoleUse.h"

#include <functional>
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
// names it: HDMI-A-1). Before the runtime is brought up. Where there is no screen yet (its
// driver still loading, nothing plugged in), it tells so once through `tell` and waits for
// one; a termination signal ends the wait (Stopped, with the signal's status).
ConsoleUse useConsole(const std::string& screen, const std::function<void(const std::string&)>& tell);

// Windows made from now on are drawn turned this many degrees clockwise (0, 90, 180 or 270),
// for a screen mounted on its side or upside down: laid out upright, for the width and height
// as seen turned.
void turnWindows(int degrees);
int windowTurn();

// The display the program shows on, switched off on cue (standby) and on again (wake), through
// what the display system offers, and the television told over HDMI-CEC where the kernel has an
// adapter. In standby the windows are not drawn (awake, they show as they are then), those who
// listen read the state "standby", and the display comes back on when the program ends. Where
// nothing offers a way, one line says so and nothing changes. Asked for again, nothing happens.
void displayStandby();
void displayWake();

// Device pixels per layout pixel on the densest screen: what a picture needs to stay sharp
// on any of them.
double largestDevicePixelRatio();

}
