#pragma once

#include "Cues.h"

#include <cstdint>
#include <string>

namespace fw {

// A socket of the type (SOCK_DGRAM, or SOCK_STREAM listening) bound to the cues' address and
// port, or -1 with `why` set.
int boundSocket(const OscCues& cues, int type, std::string& why);
// The address and port that show tools on the network find the bound socket under: false on
// loopback, which is not theirs to reach.
bool announcedAt(int socket, std::string& address, std::uint16_t& port);

}
