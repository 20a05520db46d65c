#pragma once

#include <cstdint>
#include <string>

namespace fw {

// HOST:PORT as a line names it, an IPv6 address in brackets: [::1]:9000.
inline std::string hostAndPort(const std::string& host, std::uint16_t port)
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}
