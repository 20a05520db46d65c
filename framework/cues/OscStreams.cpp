#include "OscStreams.h"
#include "OscPackets.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {

namespace {

// The most connections at once; one more is closed as it comes.
constexpr std::size_t MostStreams = 16;
// SLIP's framing (RFC 1055), as OSC 1.1 sends packets over a stream.
constexpr unsigned char SlipEnd = 0xC0;
constexpr unsigned char SlipEscape = 0xDB;
constexpr unsigned char SlipEscapedEnd = 0xDC;
constexpr unsigned char SlipEscapedEscape = 0xDD;

}

// One connection: what it has sent of a packet not whole yet, and how it frames.
struct OscStreams::Stream {
    explicit Stream(int fd)
        : socket(fd)
    {
    }
    ~Stream()
    {
        notifier.reset();
        ::close(socket);
    }
    int socket;
    std::unique_ptr<QSocketNotifier> notifier;
    std::string bytes;
    enum Framing { Unknown, Sized, Slip } framing = Unknown;
    bool ended = false;
};

OscStreams::OscStreams(int listener, std::function<void(int stream, const std::string& packet)> take)
    : m_listener(listener)
    , m_take(std::move(take))
    , m_alive(std::make_shared<OscStreams*>(this))
{
}

OscStreams::~OscStreams()
{
    m_streams.clear();
    m_listening.reset();
    ::close(m_listener);
}

void OscStreams::start()
{
    m_listening = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
    QObject::connect(m_listening.get(), &QSocketNotifier::activated, [this] { acceptWaiting(); });
    for (auto& [id, stream] : m_streams) {
        if (!stream->ended)
            watch(id);
    }
}

void OscStreams::readWaiting(int reads)
{
    acceptWaiting();
    for (const auto& [id, stream] : m_streams) {
        for (int n = 0; n < reads && read(id); ++n) {
        }
    }
}

void OscStreams::acceptWaiting()
{
    while (true) {
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            return;
        if (m_streams.size() >= MostStreams) {
            ::close(connection);
            continue;
        }
        const int id = ++m_lastStream;
        m_streams[id] = std::make_unique<Stream>(connection);
        if (m_listening)
            watch(id);
    }
}

void OscStreams::watch(int id)
{
    Stream& stream = *m_streams.at(id);
    stream.notifier = std::make_unique<QSocketNotifier>(stream.socket, QSocketNotifier::Read);
    QObject::connect(stream.notifier.get(), &QSocketNotifier::activated, [this, id] { read(id); });
}

// What the connection has sent, at most a datagram's worth at a turn: each whole packet in it
// read as a datagram, framed as the sender frames them (OSC 1.1's SLIP, or OSC 1.0's size
// before each), answered on the connection. The connection ends when the sender ends it, or
// sends what no framing makes a packet of.
bool OscStreams::read(int id)
{
    const auto found = m_streams.find(id);
    if (found == m_streams.end() || found->second->ended)
        return false;
    Stream& stream = *found->second;
    std::string& bytes = stream.bytes;
    const std::size_t had = bytes.size();
    bytes.resize(had + LargestPacket);
    const ssize_t got = ::recv(stream.socket, bytes.data() + had, LargestPacket, 0);
    bytes.resize(had + std::max<ssize_t>(got, 0));
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        end(id);
        return false;
    }
    if (stream.framing == Stream::Unknown && !bytes.empty())
        stream.framing = static_cast<unsigned char>(bytes[0]) == SlipEnd ? Stream::Slip : Stream::Sized;
    std::size_t at = 0;
    bool broken = false;
    std::string packet;
    while (at < bytes.size() && !broken) {
        if (stream.framing == Stream::Sized) {
            if (bytes.size() - at < 4)
                break;
            std::uint32_t size;
            std::memcpy(&size, bytes.data() + at, 4);
            size = ntohl(size);
            if (size > LargestPacket) {
                broken = true;
                break;
            }
            if (bytes.size() - at - 4 < size)
                break;
            packet.assign(bytes, at + 4, size);
            at += 4 + size;
        } else {
            const std::size_t end = bytes.find(static_cast<char>(SlipEnd), at);
            if (end == std::string::npos) {
                broken = bytes.size() - at > 2 * LargestPacket;
                break;
            }
            packet.clear();
            for (std::size_t i = at; i < end; ++i) {
                const auto byte = static_cast<unsigned char>(bytes[i]);
                if (byte == SlipEscape && i + 1 < end) {
                    const auto next = static_cast<unsigned char>(bytes[++i]);
                    packet += static_cast<char>(next == SlipEscapedEnd ? SlipEnd : next == SlipEscapedEscape ? SlipEscape : next);
                } else {
                    packet += static_cast<char>(byte);
                }
            }
            at = end + 1;
            if (packet.empty() || packet.size() > LargestPacket)
                continue;
        }
        m_take(id, packet);
    }
    bytes.erase(0, at);
    if (broken)
        end(id);
    return got > 0 && !broken;
}

// Ended once the event loop is done with its notifier: its socket stays open until then, so
// that no connection that comes meanwhile gets the same number.
void OscStreams::end(int id)
{
    Stream& stream = *m_streams.at(id);
    stream.ended = true;
    if (stream.notifier)
        stream.notifier->setEnabled(false);
    QTimer::singleShot(0, [alive = std::weak_ptr<OscStreams*>(m_alive), id] {
        if (const auto streams = alive.lock())
            (*streams)->m_streams.erase(id);
    });
}

// A connection that does not take it at once (its reader stopped) goes without it.
void OscStreams::send(int id, const std::string& packet)
{
    const auto stream = m_streams.find(id);
    if (stream == m_streams.end())
        return;
    std::string framed;
    if (stream->second->framing == Stream::Slip) {
        framed += static_cast<char>(SlipEnd);
        for (const char c : packet) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte == SlipEnd || byte == SlipEscape)
                framed += { static_cast<char>(SlipEscape), static_cast<char>(byte == SlipEnd ? SlipEscapedEnd : SlipEscapedEscape) };
            else
                framed += c;
        }
        framed += static_cast<char>(SlipEnd);
    } else {
        const std::uint32_t big = htonl(static_cast<std::uint32_t>(packet.size()));
        framed.assign(reinterpret_cast<const char*>(&big), 4);
        framed += packet;
    }
    ::send(stream->second->socket, framed.data(), framed.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

}
