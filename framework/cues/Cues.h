#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

// Cues from the show: short commands that a show controller, a lighting desk or a game
// master's panel sends over the network. Each arrives on the main thread as the application's
// Event_Cue, as one line of text: the cue's name, then each of its arguments after one blank
// ("seed 42"). What a name means is the application's business.

// OSC messages on a UDP port, and on the same TCP port (each packet framed by its size, OSC 1.0, or
// by SLIP, OSC 1.1; at most 16 connections at once). A message's address is the prefix and the cue's name
// ("/board/go"), or the prefix, the program's name and the cue's name for this program alone
// ("/board/helm/go"); an address pattern ("/*/go", "/board/{helm,deck}/hold") reaches every one
// of these addresses it matches. Its arguments are integers or strings; a float that is a whole
// number is that number, true and false are 1 and 0. A message to no address of the program's,
// where the address names another program or is a pattern, is dropped without a word; any other
// arrives with its whole address as the cue. Bundles are taken, acted on at once.
struct OscCues {
    std::string address; // a numeric IPv4 or IPv6 address of this machine, or 0.0.0.0 / ::
    std::uint16_t port = 0;
    std::string prefix; // "/board/"
    std::string name; // one address part: no '/' and none of the pattern characters
    std::vector<std::string> cues; // the cues' names
};

// Opens the port now, before any window: empty when it is open, otherwise what stopped it, in
// one line. The cues flow once the event loop runs. Each message that reaches the program is
// answered, once its cues are acted on, to the address and port it came from: PREFIX"state"
// NAME STATE, or PREFIX"pong" NAME STATE for PREFIX"ping" (the link's own, no cue); at most a
// hundred answers a second.
std::string listenForOsc(const OscCues& cues);

// MQTT through a broker: the payload of a message published to the topic, or to TOPIC/NAME for
// this program alone, is the cue; a retained message is not one. The connection is made in the
// background once the toolkit has started, kept alive, and made again after every loss; the
// program's state is published, retained, to TOPIC/NAME/state, and the broker publishes
// "offline" there when the program is gone. Another program that publishes there (the same
// name) is told once.
struct MqttCues {
    std::string host;
    std::uint16_t port = 1883;
    std::string topic;
    std::string name; // one topic level: no '/', '+' or '#'

    bool tls = false; // with the system's certificate authorities unless caFile names one
    std::string caFile;
    std::string user; // empty: none
    std::string password;
    // Told, in one line, when the connection is lost or refused and when it is back; called
    // on the connection's own thread.
    std::function<void(const std::string& line)> tell;
};

// A topic to follow: one level or more, the last not empty, without the wildcards + and #.
bool isPlainMqttTopic(const std::string& topic);

// Checks what can be checked before any window (a CA file that cannot be read): empty when
// the cues will be followed, otherwise what stops them, in one line.
std::string followMqtt(const MqttCues& cues);

// What the program shows now ("start", "board", "held"), for those who listen: published to
// the broker when there is one, and again after every reconnect.
void announceState(const std::string& state);

}
