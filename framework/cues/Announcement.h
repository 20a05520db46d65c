#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

// Services of the program announced on the local network by DNS-SD (Avahi's daemon), under one
// name, for as long as the object lives: show tools that browse for them (_osc._udp) find the
// program without being told its address. `address` is the one the services listen on: a
// wildcard announces them on every network, a machine's own address on the network that has
// it. Where no Avahi daemon runs, one line says so, and they are announced once one comes; a
// name another service on the network already has is changed as Avahi suggests, in one line.
class Announcement {
public:
    Announcement(const std::string& name, const std::vector<std::string>& types, const std::string& address,
        std::uint16_t port);
    ~Announcement();
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

    struct Avahi;

private:
    std::unique_ptr<Avahi> m_avahi;
};

}
