#pragma once

#include "Announcement.h"
#include "CueLink.h"
#include "Cues.h"

#include <QSocketNotifier>
#include <lo/lo_lowlevel.h>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace fw {

// OSC over UDP and TCP on the address and port asked for, and liblo to read what comes. Each
// message that reaches the program is answered, from the UDP socket to where it came from, or
// on its TCP connection. Off loopback, both are announced on the network under the name.
class OscLink : public CueLink {
public:
    // The socket bound, or null with `why` set.
    static std::unique_ptr<OscLink> open(const OscCues& cues, std::string& why);
    ~OscLink() override;

    void start() override;
    void announce(const std::string& state) override { m_state = state; }
    std::size_t dropWaiting() override;

    // Hands one datagram to liblo, which calls back for each message in it (tests use it too).
    void take(const char* data, std::size_t size);

private:
    OscLink(int socket, lo_server reader, const OscCues& cues);
    void readWaiting();
    void acceptWaiting();
    void watch(int stream);
    bool readStream(int stream); // whether it read anything
    void endStream(int stream);
    void dispatchDatagram(std::size_t size);
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message message, void* link);
    static std::string cueText(std::string cue, const char* types, lo_arg** argv, int argc);
    // What answers the message being read, once its cues are acted on: ADDRESS NAME STATE to
    // its sender.
    std::function<void()> answer(const std::string& address);
    void send(const std::string& address, const sockaddr_storage& to, socklen_t length, int stream);

    // One connection over TCP: what it has sent of a packet not whole yet, and how it frames.
    struct Stream {
        explicit Stream(int fd)
            : socket(fd)
        {
        }
        ~Stream();
        int socket;
        std::unique_ptr<QSocketNotifier> notifier;
        std::string bytes;
        enum Framing { Unknown, Sized, Slip } framing = Unknown;
        bool ended = false;
    };

    int m_socket;
    lo_server m_reader;
    std::string m_prefix;
    std::string m_name;
    std::vector<std::pair<std::string, std::string>> m_addresses; // the program's own, and their cues
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_listener = -1; // TCP
    std::unique_ptr<QSocketNotifier> m_listening;
    std::map<int, std::unique_ptr<Stream>> m_streams;
    int m_lastStream = 0;
    int m_fromStream = 0; // the connection the packet being read came on, 0 for none
    // One datagram, 4-byte aligned as liblo reads it, with zeros after it.
    std::vector<std::uint32_t> m_datagram;
    int m_messages = 0; // read at this turn, or dropped
    bool m_dropping = false;
    std::string m_state;
    // Where the datagram being read came from (none: a test's).
    sockaddr_storage m_sender {};
    socklen_t m_senderLength = 0;
    std::chrono::steady_clock::time_point m_answersSince;
    int m_answers = 0; // since then
    // Held by the answers that wait in the queue, which may outlive the link.
    std::shared_ptr<OscLink*> m_alive;
    std::unique_ptr<Announcement> m_announcement; // off loopback, once started
};

}
