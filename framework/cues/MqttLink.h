#pragma once

#include "CueLink.h"
#include "Cues.h"

#include <memory>
#include <thread>

class QTimer;

namespace fw {

// MQTT through a broker, with libmosquitto on a thread of the link's own: connecting, the TLS
// handshake and a broker that does not answer never hold up the board.
class MqttLink : public CueLink {
public:
    static std::unique_ptr<MqttLink> make(const MqttCues& cues, std::string& why);
    ~MqttLink() override;

    void start() override;
    void announce(const std::string& state) override;

    struct Connection;

private:
    explicit MqttLink(std::shared_ptr<Connection> connection);

    // Shared with the thread, which may outlive the link only while the library looks up the
    // broker's name that the thread has just looked up itself.
    std::shared_ptr<Connection> m_connection;
    std::thread m_thread;
    std::unique_ptr<QTimer> m_turns;
};

}
