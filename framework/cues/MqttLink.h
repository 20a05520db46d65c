#pragma once

#include "CueLink.h"
#include "Cues.h"

#include <memory>
#include <string>

namespace fw {

// MQTT through a broker, with libmosquitto on a thread of the link's own: connecting, the TLS
// handshake and a broker that does not answer never hold up the board. Null, with `why` set,
// when the cues cannot be followed.
std::unique_ptr<CueLink> makeMqttLink(const MqttCues& cues, std::string& why);

}
