// The OSC link's sockets: bound to the address asked for, and what they are announced under.
#include "OscSockets.h"
#include "HostAndPort.h"
#include "base/StandardError.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace fw {

int boundSocket(const OscCues& cues, int type, std::string& why)
{
    sockaddr_storage address {};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, cues.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(cues.port);
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, cues.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(cues.port);
        length = sizeof *v6;
    } else {
        why = "cannot listen for OSC on " + hostAndPort(cues.address, cues.port) + ": not a numeric address";
        return -1;
    }
    const int socket = ::socket(address.ss_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (type == SOCK_STREAM && socket >= 0) // a board started again at once takes its port back
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool bound = socket >= 0 && ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0;
    if (!bound && socket >= 0 && errno == EADDRNOTAVAIL) {
        // An address the machine does not have yet (its network comes up after the board):
        // taken now, its cues come once it is there.
        const bool v4 = address.ss_family == AF_INET;
        bound = ::setsockopt(socket, v4 ? IPPROTO_IP : IPPROTO_IPV6, v4 ? IP_FREEBIND : IPV6_FREEBIND, &on, sizeof on) == 0
            && ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0;
        if (bound && type == SOCK_DGRAM)
            sayLine("listening for OSC on " + hostAndPort(cues.address, cues.port) + ", which is not one of this machine's addresses yet: "
                "its cues come once it is");
        else
            errno = EADDRNOTAVAIL;
    }
    if (bound && type == SOCK_STREAM && ::listen(socket, SOMAXCONN) != 0)
        bound = false;
    if (!bound) {
        const int error = errno;
        why = "cannot listen for OSC on " + hostAndPort(cues.address, cues.port) + (type == SOCK_STREAM ? " over TCP: " : ": ");
        if (error == EADDRINUSE)
            why += "the port is in use";
        else if (error == EADDRNOTAVAIL)
            why += "the address is not one of this machine's";
        else if (error == EACCES)
            why += "a port below 1024 needs root";
        else
            why += std::strerror(error);
        if (socket >= 0)
            ::close(socket);
        return -1;
    }
    return socket;
}

bool announcedAt(int socket, std::string& address, std::uint16_t& port)
{
    sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return false;
    char text[INET6_ADDRSTRLEN] = {};
    if (bound.ss_family == AF_INET) {
        const auto& ip4 = reinterpret_cast<const sockaddr_in&>(bound);
        if ((ntohl(ip4.sin_addr.s_addr) >> 24) == 127)
            return false;
        ::inet_ntop(AF_INET, &ip4.sin_addr, text, sizeof text);
        port = ntohs(ip4.sin_port);
    } else {
        const auto& ip6 = reinterpret_cast<const sockaddr_in6&>(bound);
        if (IN6_IS_ADDR_LOOPBACK(&ip6.sin6_addr))
            return false;
        ::inet_ntop(AF_INET6, &ip6.sin6_addr, text, sizeof text);
        port = ntohs(ip6.sin6_port);
    }
    address = text;
    return true;
}

}
