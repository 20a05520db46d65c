#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

namespace fw {

// OSC over TCP: the connections that the listening socket accepts, at most a few at once, each
// sending packets framed as OSC 1.0 frames them (each after its size) or as OSC 1.1 does (SLIP).
class OscStreams {
public:
    // Each whole packet goes to `take`, with the number of the connection it came on.
    OscStreams(int listener, std::function<void(int stream, const std::string& packet)> take);
    ~OscStreams();
    OscStreams(const OscStreams&) = delete;
    OscStreams& operator=(const OscStreams&) = delete;

    // Watched from now on: connections accepted, and read, as they come.
    void start();
    // Before then: the connections waiting accepted, and each read, at most `reads` times.
    void readWaiting(int reads);
    // The packet to the connection, framed as it frames what it sends.
    void send(int stream, const std::string& packet);

private:
    struct Stream;
    void acceptWaiting();
    void watch(int id);
    bool read(int id); // whether it read anything
    void end(int id);

    int m_listener;
    std::function<void(int stream, const std::string& packet)> m_take;
    std::unique_ptr<QSocketNotifier> m_listening;
    std::map<int, std::unique_ptr<Stream>> m_streams;
    int m_lastStream = 0;
    // Held by what the event loop does for the streams later, which may outlive them.
    std::shared_ptr<OscStreams*> m_alive;
};

}
