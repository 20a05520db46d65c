#include "OscLink.h"
#include "base/StandardError.h"

#include <QTimer>
#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fw {

namespace {

// The largest datagram read whole; a longer one is cut there, which liblo then refuses.
constexpr std::size_t LargestDatagram = 65536;
// Datagrams, and messages in them, read before the event loop's other work gets its turn.
constexpr int DatagramsPerTurn = 32;
constexpr int MessagesPerTurn = 64;
// The most answers sent a second: a sender that forges its address cannot turn the board into
// a source of traffic for another.
constexpr int AnswersPerSecond = 100;
// The most OSC connections over TCP at once; one more is closed as it comes.
constexpr std::size_t MostStreams = 16;
// SLIP's framing (RFC 1055), as OSC 1.1 sends packets over a stream.
constexpr unsigned char SlipEnd = 0xC0;
constexpr unsigned char SlipEscape = 0xDB;
constexpr unsigned char SlipEscapedEnd = 0xDC;
constexpr unsigned char SlipEscapedEscape = 0xDD;

std::string endpoint(const OscCues& cues)
{
    const bool v6 = cues.address.find(':') != std::string::npos;
    return (v6 ? "[" + cues.address + "]" : cues.address) + ":" + std::to_string(cues.port);
}

// A socket of the type bound to the address (UDP, or TCP listening), or -1 with `why` set.
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
        why = "cannot listen for OSC on " + endpoint(cues) + ": not a numeric address";
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
            sayLine("listening for OSC on " + endpoint(cues) + ", which is not one of this machine's addresses yet: "
                "its cues come once it is");
        else
            errno = EADDRNOTAVAIL;
    }
    if (bound && type == SOCK_STREAM && ::listen(socket, SOMAXCONN) != 0)
        bound = false;
    if (!bound) {
        const int error = errno;
        why = "cannot listen for OSC on " + endpoint(cues) + (type == SOCK_STREAM ? " over TCP: " : ": ");
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

// liblo reads only through a server of its own, and its UDP server cannot be bound to one
// address. This one is a local socket that nothing can reach: made in a folder of its own and
// unlinked with the folder at once. The socket above is where the datagrams come in.
lo_server readerOnly(std::string& why)
{
    std::string folder;
    for (const char* parent : { static_cast<const char*>(std::getenv("XDG_RUNTIME_DIR")), "/tmp" }) {
        folder = std::string(parent ? parent : "/tmp") + "/osc-reader-XXXXXX";
        if (::mkdtemp(folder.data()))
            break;
        folder.clear();
    }
    if (folder.empty()) {
        why = "cannot make OSC's reader: " + std::string(std::strerror(errno));
        return nullptr;
    }
    const std::string path = folder + "/r";
    lo_server reader = lo_server_new_with_proto(path.c_str(), LO_UNIX, [](int, const char*, const char*) { });
    ::unlink(path.c_str());
    ::rmdir(folder.c_str());
    if (!reader) {
        why = "cannot make OSC's reader";
        return nullptr;
    }
    // A bundle's time tag is not waited for: every cue acts on arrival.
    lo_server_enable_queue(reader, 0, 1);
    return reader;
}

// Whether every bundle in the datagram, nested ones too, is made of whole elements. liblo checks
// an element's length against what is left only after reading it into a signed size: on a 32-bit
// machine a length of 2 GB or more reads as negative, passes, and sends its reader outside the
// datagram. A datagram that is not a bundle is liblo's to judge.
bool wholeBundles(const char* data, std::size_t size)
{
    static constexpr char Bundle[] = "#bundle";
    if (size < sizeof Bundle || std::memcmp(data, Bundle, sizeof Bundle) != 0)
        return true;
    if (size < sizeof Bundle + 8)
        return false;
    std::size_t at = sizeof Bundle + 8; // the name and the time tag
    while (size - at >= 4) {
        std::uint32_t length;
        std::memcpy(&length, data + at, 4);
        length = ntohl(length);
        at += 4;
        if (length > size - at || !wholeBundles(data + at, length))
            return false;
        at += length;
    }
    return at == size;
}

// The longest part of an address pattern matched; a longer one matches nothing.
constexpr std::size_t LongestPatternPart = 256;

// One part of an address (between slashes) against one part of a pattern, as OSC 1.0 matches
// them: '?' any character, '*' any run of them, "[a-z]" or "[!a-z]" one of a set or not,
// "{go,hold}" one of the words. Each position of the two is judged once (the memo), so that no
// pattern from the network takes long.
class PartMatch {
public:
    PartMatch(std::string_view pattern, std::string_view text)
        : m_pattern(pattern)
        , m_text(text)
        , m_memo((pattern.size() + 1) * (text.size() + 1), Unknown)
    {
    }

    bool at(std::size_t p, std::size_t t)
    {
        std::int8_t& known = m_memo[p * (m_text.size() + 1) + t];
        if (known == Unknown)
            known = judge(p, t) ? 1 : 0;
        return known == 1;
    }

private:
    static constexpr std::int8_t Unknown = -1;

    bool judge(std::size_t p, std::size_t t)
    {
        if (p == m_pattern.size())
            return t == m_text.size();
        const char c = m_pattern[p];
        if (c == '*')
            return at(p + 1, t) || (t < m_text.size() && at(p, t + 1));
        if (c == '[') {
            const std::size_t close = m_pattern.find(']', p + 1);
            if (close == std::string_view::npos || t == m_text.size())
                return false;
            std::string_view set = m_pattern.substr(p + 1, close - p - 1);
            const bool negated = !set.empty() && set[0] == '!';
            if (negated)
                set.remove_prefix(1);
            bool in = false;
            for (std::size_t i = 0; i < set.size(); ++i) {
                if (i + 2 < set.size() && set[i + 1] == '-') {
                    in = in || (m_text[t] >= set[i] && m_text[t] <= set[i + 2]);
                    i += 2;
                } else {
                    in = in || m_text[t] == set[i];
                }
            }
            return in != negated && at(close + 1, t + 1);
        }
        if (c == '{') {
            const std::size_t close = m_pattern.find('}', p + 1);
            if (close == std::string_view::npos)
                return false;
            const std::string_view words = m_pattern.substr(p + 1, close - p - 1);
            for (std::size_t from = 0; from <= words.size();) {
                const std::size_t comma = std::min(words.find(',', from), words.size());
                const std::string_view word = words.substr(from, comma - from);
                if (m_text.substr(t, word.size()) == word && at(close + 1, t + word.size()))
                    return true;
                from = comma + 1;
            }
            return false;
        }
        return t < m_text.size() && (c == '?' || c == m_text[t]) && at(p + 1, t + 1);
    }

    std::string_view m_pattern;
    std::string_view m_text;
    std::vector<std::int8_t> m_memo;
};

// Whether the address pattern matches the address: part by part, as many parts in each.
bool matches(std::string_view pattern, std::string_view address)
{
    while (true) {
        const std::size_t patternEnd = std::min(pattern.find('/', 1), pattern.size());
        const std::size_t addressEnd = std::min(address.find('/', 1), address.size());
        if (patternEnd > LongestPatternPart || !PartMatch(pattern.substr(0, patternEnd), address.substr(0, addressEnd)).at(0, 0))
            return false;
        pattern.remove_prefix(patternEnd);
        address.remove_prefix(addressEnd);
        if (pattern.empty() || address.empty())
            return pattern.empty() && address.empty();
    }
}

}

std::unique_ptr<OscLink> OscLink::open(const OscCues& cues, std::string& why)
{
    const int socket = boundSocket(cues, SOCK_DGRAM, why);
    if (socket < 0)
        return nullptr;
    const int listener = boundSocket(cues, SOCK_STREAM, why);
    lo_server reader = listener >= 0 ? readerOnly(why) : nullptr;
    if (!reader) {
        ::close(socket);
        if (listener >= 0)
            ::close(listener);
        return nullptr;
    }
    auto link = std::unique_ptr<OscLink>(new OscLink(socket, reader, cues));
    link->m_listener = listener;
    return link;
}

OscLink::OscLink(int socket, lo_server reader, const OscCues& cues)
    : m_socket(socket)
    , m_reader(reader)
    , m_prefix(cues.prefix)
    , m_name(cues.name)
    , m_datagram((LargestDatagram + 8) / sizeof(std::uint32_t), 0)
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

OscLink::Stream::~Stream()
{
    notifier.reset();
    ::close(socket);
}

OscLink::~OscLink()
{
    m_announcement.reset();
    m_streams.clear();
    m_listening.reset();
    if (m_listener >= 0)
        ::close(m_listener);
    m_notifier.reset();
    lo_server_free(m_reader);
    ::close(m_socket);
}

void OscLink::start()
{
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readWaiting(); });
    m_listening = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
    QObject::connect(m_listening.get(), &QSocketNotifier::activated, [this] { acceptWaiting(); });
    for (auto& [id, stream] : m_streams) {
        if (!stream->ended)
            watch(id);
    }
    // Show tools on the network find the board by its name; what listens on loopback is not
    // theirs to reach.
    sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    if (m_announcement || ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return;
    char address[INET6_ADDRSTRLEN] = {};
    std::uint16_t port = 0;
    if (bound.ss_family == AF_INET) {
        const auto& ip4 = reinterpret_cast<const sockaddr_in&>(bound);
        if ((ntohl(ip4.sin_addr.s_addr) >> 24) == 127)
            return;
        ::inet_ntop(AF_INET, &ip4.sin_addr, address, sizeof address);
        port = ntohs(ip4.sin_port);
    } else {
        const auto& ip6 = reinterpret_cast<const sockaddr_in6&>(bound);
        if (IN6_IS_ADDR_LOOPBACK(&ip6.sin6_addr))
            return;
        ::inet_ntop(AF_INET6, &ip6.sin6_addr, address, sizeof address);
        port = ntohs(ip6.sin6_port);
    }
    m_announcement = std::make_unique<Announcement>(m_name, std::vector<std::string> { "_osc._udp", "_osc._tcp" },
        address, port);
}

void OscLink::acceptWaiting()
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

void OscLink::watch(int id)
{
    Stream& stream = *m_streams.at(id);
    stream.notifier = std::make_unique<QSocketNotifier>(stream.socket, QSocketNotifier::Read);
    QObject::connect(stream.notifier.get(), &QSocketNotifier::activated, [this, id] { readStream(id); });
}

// What the connection has sent, at most a datagram's worth at a turn: each whole packet in it
// read as a datagram, framed as the sender frames them (OSC 1.1's SLIP, or OSC 1.0's size
// before each), answered on the connection. The connection ends when the sender ends it, or
// sends what no framing makes a packet of.
bool OscLink::readStream(int id)
{
    const auto found = m_streams.find(id);
    if (found == m_streams.end() || found->second->ended)
        return false;
    Stream& stream = *found->second;
    std::string& bytes = stream.bytes;
    const std::size_t had = bytes.size();
    bytes.resize(had + LargestDatagram);
    const ssize_t got = ::recv(stream.socket, bytes.data() + had, LargestDatagram, 0);
    bytes.resize(had + std::max<ssize_t>(got, 0));
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        endStream(id);
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
            if (size > LargestDatagram) {
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
                broken = bytes.size() - at > 2 * LargestDatagram;
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
            if (packet.empty() || packet.size() > LargestDatagram)
                continue;
        }
        m_fromStream = id;
        take(packet.data(), packet.size());
        m_fromStream = 0;
    }
    bytes.erase(0, at);
    if (broken)
        endStream(id);
    return got > 0 && !broken;
}

// Ended once the event loop is done with its notifier: its socket stays open until then, so
// that no connection that comes meanwhile gets the same number.
void OscLink::endStream(int id)
{
    Stream& stream = *m_streams.at(id);
    stream.ended = true;
    if (stream.notifier)
        stream.notifier->setEnabled(false);
    QTimer::singleShot(0, [alive = std::weak_ptr<OscLink*>(m_alive), id] {
        if (const auto link = alive.lock())
            (*link)->m_streams.erase(id);
    });
}

void OscLink::readWaiting()
{
    m_messages = 0;
    for (int i = 0; i < DatagramsPerTurn && m_messages < MessagesPerTurn; ++i) {
        m_senderLength = sizeof m_sender;
        const ssize_t size = ::recvfrom(m_socket, m_datagram.data(), LargestDatagram, 0, reinterpret_cast<sockaddr*>(&m_sender), &m_senderLength);
        if (size < 0)
            return;
        dispatchDatagram(static_cast<std::size_t>(size));
    }
}

std::size_t OscLink::dropWaiting()
{
    m_dropping = true;
    m_messages = 0;
    acceptWaiting();
    for (const auto& [id, stream] : m_streams) {
        for (int reads = 0; reads < DatagramsPerTurn && readStream(id); ++reads) {
        }
    }
    while (true) {
        const ssize_t size = ::recv(m_socket, m_datagram.data(), LargestDatagram, 0);
        if (size < 0)
            break;
        dispatchDatagram(static_cast<std::size_t>(size));
    }
    m_dropping = false;
    return static_cast<std::size_t>(m_messages);
}

void OscLink::take(const char* data, std::size_t size)
{
    size = std::min(size, LargestDatagram);
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
        if (pattern ? matches(address, own) : address == own) {
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
    const auto stream = m_streams.find(streamId);
    if (data && streamId == 0) {
        ::sendto(m_socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), length);
    } else if (data && stream != m_streams.end()) {
        // Framed as the sender frames what it sends; a connection that does not take it at
        // once (its reader stopped) goes without it.
        const std::string packet(static_cast<const char*>(data), size);
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
            const std::uint32_t big = htonl(static_cast<std::uint32_t>(size));
            framed.assign(reinterpret_cast<const char*>(&big), 4);
            framed += packet;
        }
        ::send(stream->second->socket, framed.data(), framed.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    std::free(data);
    lo_message_free(message);
}

// The cue as a line: its name, then each argument after a blank.
std::string OscLink::cueText(std::string cue, const char* types, lo_arg** argv, int argc)
{
    const auto whole = [&cue](double value) {
        // Within the range where a double holds every whole number exactly.
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) <= 9007199254740992.0)
            cue += std::to_string(static_cast<std::int64_t>(value));
        else
            cue += "(f)";
    };
    for (int i = 0; i < argc; ++i) {
        cue += ' ';
        switch (types[i]) {
        case LO_INT32:
            cue += std::to_string(argv[i]->i);
            break;
        case LO_INT64:
            cue += std::to_string(argv[i]->h);
            break;
        case LO_FLOAT:
            whole(argv[i]->f);
            break;
        case LO_DOUBLE:
            whole(argv[i]->d);
            break;
        case LO_TRUE:
        case LO_FALSE:
            cue += types[i] == LO_TRUE ? "1" : "0";
            break;
        case LO_STRING:
        case LO_SYMBOL:
            cue += &argv[i]->s;
            break;
        default:
            // A blob, a colour...: no cue takes one. Named by its type tag, so that the cue
            // is refused and says why.
            cue += std::string("(") + types[i] + ")";
        }
    }
    return cue;
}

}
