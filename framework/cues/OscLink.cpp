// OSC over UDP and TCP on the address and port asked for, and liblo to read what comes. Each
// message that reaches the program is answered, from the UDP socket to where it came from, or
// on its TCP connection. Off loopback, both are announced on the network under the name.
#include "OscLink.h"
#include "Announcement.h"
#include "OscPackets.h"
#include "OscSockets.h"
#include "OscStreams.h"

#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <lo/lo.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fw {

namespace {

// Datagrams, and messages in them, read before the event loop's other work gets its turn.
constexpr int DatagramsPerTurn = 32;
constexpr int MessagesPerTurn = 64;
// The most answers sent a second: a sender that forges its address cannot turn the board into
// a source of traffic for another.
constexpr int AnswersPerSecond = 100;

class OscLink final : public CueLink {
public:
    OscLink(int socket, int listener, lo_server reader, const OscCues& cues);
    ~OscLink() override;

    void start() override;
    void announce(const std::string& state) override { m_state = state; }
    std::size_t dropWaiting() override;

private:
    void readWaiting();
    // Hands one packet to liblo, which calls back for each message in it.
    void take(const char* data, std::size_t size);
    void dispatchDatagram(std::size_t size);
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message message, void* link);
    // What answers the message being read, once its cues are acted on: ADDRESS NAME STATE to
    // its sender.
    std::function<void()> answer(const std::string& address);
    void send(const std::string& address, const sockaddr_storage& to, socklen_t length, int stream);

    int m_socket;
    lo_server m_reader;
    std::string m_prefix;
    std::string m_name;
    std::vector<std::pair<std::string, std::string>> m_addresses; // the program's own, and their cues
    std::unique_ptr<QSocketNotifier> m_notifier;
    OscStreams m_streams; // TCP
    int m_fromStream = 0; // the connection the packet being read came on, 0 for none
    // One datagram, 4-byte aligned as liblo reads it, with zeros after it.
    std::vector<std::uint32_t> m_datagram;
    int m_messages = 0; // read at this turn, or dropped
    bool m_dropping = false;
    std::string m_state;
    // Where the datagram being read came from (none: from a connection).
    sockaddr_storage m_sender {};
    socklen_t m_senderLength = 0;
    std::chrono::steady_clock::time_point m_answersSince;
    int m_answers = 0; // since then
    // Held by the answers that wait in the queue, which may outlive the link.
    std::shared_ptr<OscLink*> m_alive;
    std::unique_ptr<Announcement> m_announcement; // off loopback, once started
};

}

std::unique_ptr<CueLink> openOscLink(const OscCues& cues, std::string& why)
{
    const int socket = boundSocket(cues, SOCK_DGRAM, why);
    if (socket < 0)
        return nullptr;
    const int listener = boundSocket(cues, SOCK_STREAM, why);
    lo_server reader = listener >= 0 ? readerWithoutSocket(why) : nullptr;
    if (!reader) {
        ::close(socket);
        if (listener >= 0)
            ::close(listener);
        return nullptr;
    }
    return std::make_unique<OscLink>(socket, listener, reader, cues);
}

OscLink::OscLink(int socket, int listener, lo_server reader, const OscCues& cues)
    : m_socket(socket)
    , m_reader(reader)
    , m_prefix(cues.prefix)
    , m_name(cues.name)
    , m_streams(listener,
          [this](int stream, const std::string& packet) {
              m_fromStream = stream;
              take(packet.data(), packet.size());
              m_fromStream = 0;
          })
    , m_datagram((LargestPacket + 8) / sizeof(std::uint32_t), 0)
    , m_alive(std::make_shared<OscLink*>(this))
{
    // "ping", the link's own: answered, and no cue.
    const std::string ownPrefix = m_prefix + m_name + "/";
    for (const std::string& cue : cues.cues) {
        m_addresses.emplace_back(m_prefix + cue, cue);
        m_addresses.emplace_back(ownPrefix + cue, cue);
    }
    m_addresses.emplace_back(m_prefix + "ping", std::string());
    m_addresses.emplace_back(ownPrefix + "ping", std::string());
    lo_server_add_method(m_reader, nullptr, nullptr, &OscLink::onMessage, this);
}

OscLink::~OscLink()
{
    m_announcement.reset();
    m_notifier.reset();
    lo_server_free(m_reader);
    ::close(m_socket);
}

void OscLink::start()
{
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readWaiting(); });
    m_streams.start();
    std::string address;
    std::uint16_t port = 0;
    if (!m_announcement && announcedAt(m_socket, address, port))
        m_announcement = std::make_unique<Announcement>(m_name, std::vector<std::string> { "_osc._udp", "_osc._tcp" },
            address, port);
}

void OscLink::readWaiting()
{
    m_messages = 0;
    for (int i = 0; i < DatagramsPerTurn && m_messages < MessagesPerTurn; ++i) {
        m_senderLength = sizeof m_sender;
        const ssize_t size = ::recvfrom(m_socket, m_datagram.data(), LargestPacket, 0, reinterpret_cast<sockaddr*>(&m_sender), &m_senderLength);
        if (size < 0)
            return;
        dispatchDatagram(static_cast<std::size_t>(size));
    }
}

std::size_t OscLink::dropWaiting()
{
    m_dropping = true;
    m_messages = 0;
    m_streams.readWaiting(DatagramsPerTurn);
    while (true) {
        const ssize_t size = ::recv(m_socket, m_datagram.data(), LargestPacket, 0);
        if (size < 0)
            break;
        dispatchDatagram(static_cast<std::size_t>(size));
    }
    m_dropping = false;
    return static_cast<std::size_t>(m_messages);
}

void OscLink::take(const char* data, std::size_t size)
{
    size = std::min(size, LargestPacket);
    std::memcpy(m_datagram.data(), data, size);
    m_senderLength = 0;
    dispatchDatagram(size);
}

void OscLink::dispatchDatagram(std::size_t size)
{
    if (wholeBundles(reinterpret_cast<const char*>(m_datagram.data()), size))
        lo_server_dispatch_data(m_reader, m_datagram.data(), size);
    // Zeros again where it lay: liblo's reading of a string stops at the buffer's end.
    std::memset(m_datagram.data(), 0, size);
}

// A message reaches each of the program's addresses that its address or address pattern
// matches. One that reaches none is either for another program (a pattern, or another name) and
// dropped, or becomes a cue with its whole address, which the application refuses in its words.
int OscLink::onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* link)
{
    auto* self = static_cast<OscLink*>(link);
    ++self->m_messages;
    if (self->m_dropping)
        return 0;
    const std::string_view address = path;
    const bool pattern = address.find_first_of("*?[]{}") != std::string_view::npos;
    // Each cue it reaches, the last with the answer: a pong to a ping alone, the state to the
    // rest.
    bool reached = false;
    std::vector<std::string> cues;
    for (const auto& [own, cue] : self->m_addresses) {
        if (pattern ? addressMatches(address, own) : address == own) {
            reached = true;
            if (!cue.empty())
                cues.push_back(cueText(cue, types, argv, argc));
        }
    }
    for (std::size_t i = 0; i + 1 < cues.size(); ++i)
        queueCue(cues[i]);
    if (reached)
        queueCue(cues.empty() ? std::string() : cues.back(), self->answer(cues.empty() ? "pong" : "state"));
    const std::string_view prefix = self->m_prefix;
    const bool prefixed = address.size() > prefix.size() && address.substr(0, prefix.size()) == prefix;
    const bool another = prefixed && address.find('/', prefix.size()) != std::string_view::npos;
    if (reached || pattern || another)
        return 0;
    queueCue(cueText(std::string(prefixed ? address.substr(prefix.size()) : address), types, argv, argc));
    return 0;
}

std::function<void()> OscLink::answer(const std::string& what)
{
    if (m_senderLength == 0 && m_fromStream == 0)
        return {};
    return [alive = std::weak_ptr<OscLink*>(m_alive), address = m_prefix + what, to = m_sender, length = m_senderLength,
               stream = m_fromStream] {
        if (const auto link = alive.lock())
            (*link)->send(address, to, length, stream);
    };
}

void OscLink::send(const std::string& address, const sockaddr_storage& to, socklen_t length, int streamId)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_answersSince >= std::chrono::seconds(1)) {
        m_answersSince = now;
        m_answers = 0;
    }
    if (++m_answers > AnswersPerSecond)
        return;
    lo_message message = lo_message_new();
    lo_message_add_string(message, m_name.c_str());
    lo_message_add_string(message, m_state.empty() ? "start" : m_state.c_str());
    std::size_t size = 0;
    void* data = lo_message_serialise(message, address.c_str(), nullptr, &size);
    if (data && streamId == 0)
        ::sendto(m_socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), length);
    else if (data)
        m_streams.send(streamId, std::string(static_cast<const char*>(data), size));
    std::free(data);
    lo_message_free(message);
}

}
