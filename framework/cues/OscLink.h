#pragma once

#include "CueLink.h"
#include "Cues.h"

#include <memory>
#include <string>

namespace fw {

// OSC over UDP and TCP on the address and port asked for, answered and announced (Cues.h):
// the sockets bound, or null with `why` set.
std::unique_ptr<CueLink> openOscLink(const OscCues& cues, std::string& why);

}
