#pragma once

#include "CueLink.h"
#include "framework/Cues.h"

#include <QSocketNotifier>
#include <lo/lo_lowlevel.h>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace fw {

// OSC over UDP: a socket of its own on the address asked for, and liblo to read what comes.
class OscLink : public CueLink {
public:
    // The socket bound, or null with `why` set.
    static std::unique_ptr<OscLink> open(const OscCues& cues, std::string& why);
    ~OscLink() override;

    void start() override;
    void announce(const std::string&) override { }
    std::size_t dropWaiting() override;

    // Hands one datagram to liblo, which calls back for each message in it (tests use it too).
    void take(const char* data, std::size_t size);

private:
    OscLink(int socket, lo_server reader, const OscCues& cues);
    void readWaiting();
    void dispatchDatagram(std::size_t size);
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message message, void* link);
    void queue(std::string cue, const char* types, lo_arg** argv, int argc);

    int m_socket;
    lo_server m_reader;
    std::string m_prefix;
    std::string m_ownPrefix; // the prefix, the name, '/'
    std::vector<std::pair<std::string, std::string>> m_addresses; // the program's own, and their cues
    std::unique_ptr<QSocketNotifier> m_notifier;
    // One datagram, 4-byte aligned as liblo reads it, with zeros after it.
    std::vector<std::uint32_t> m_datagram;
    int m_messages = 0; // read at this turn, or dropped
    bool m_dropping = false;
};

}
