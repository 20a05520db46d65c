#include "OscLink.h"
#include "framework/Runtime.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
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

std::string endpoint(const OscCues& cues)
{
    const bool v6 = cues.address.find(':') != std::string::npos;
    return (v6 ? "[" + cues.address + "]" : cues.address) + ":" + std::to_string(cues.port);
}

int boundSocket(const OscCues& cues, std::string& why)
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
    const int socket = ::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    bool bound = socket >= 0 && ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0;
    if (!bound && socket >= 0 && errno == EADDRNOTAVAIL) {
        // An address the machine does not have yet (its network comes up after the board):
        // taken now, its cues come once it is there.
        const int on = 1;
        const bool v4 = address.ss_family == AF_INET;
        bound = ::setsockopt(socket, v4 ? IPPROTO_IP : IPPROTO_IPV6, v4 ? IP_FREEBIND : IPV6_FREEBIND, &on, sizeof on) == 0
            && ::bind(socket, reinterpret_cast<sockaddr*>(&address), length) == 0;
        if (bound)
            sayLine("listening for OSC on " + endpoint(cues) + ", which is not one of this machine's addresses yet: "
                "its cues come once it is");
        else
            errno = EADDRNOTAVAIL;
    }
    if (!bound) {
        const int error = errno;
        why = "cannot listen for OSC on " + endpoint(cues) + ": ";
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

}

std::unique_ptr<OscLink> OscLink::open(const OscCues& cues, std::string& why)
{
    const int socket = boundSocket(cues, why);
    if (socket < 0)
        return nullptr;
    lo_server reader = readerOnly(why);
    if (!reader) {
        ::close(socket);
        return nullptr;
    }
    return std::unique_ptr<OscLink>(new OscLink(socket, reader, cues.prefix));
}

OscLink::OscLink(int socket, lo_server reader, std::string prefix)
    : m_socket(socket)
    , m_reader(reader)
    , m_prefix(std::move(prefix))
    , m_datagram((LargestDatagram + 8) / sizeof(std::uint32_t), 0)
{
    lo_server_add_method(m_reader, nullptr, nullptr, &OscLink::onMessage, this);
}

OscLink::~OscLink()
{
    m_notifier.reset();
    lo_server_free(m_reader);
    ::close(m_socket);
}

void OscLink::start()
{
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readWaiting(); });
}

void OscLink::readWaiting()
{
    m_messages = 0;
    for (int i = 0; i < DatagramsPerTurn && m_messages < MessagesPerTurn; ++i) {
        const ssize_t size = ::recv(m_socket, m_datagram.data(), LargestDatagram, 0);
        if (size < 0)
            return;
        dispatchDatagram(static_cast<std::size_t>(size));
    }
}

std::size_t OscLink::dropWaiting()
{
    m_dropping = true;
    m_messages = 0;
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
    dispatchDatagram(size);
}

void OscLink::dispatchDatagram(std::size_t size)
{
    if (wholeBundles(reinterpret_cast<const char*>(m_datagram.data()), size))
        lo_server_dispatch_data(m_reader, m_datagram.data(), size);
    // Zeros again where it lay: liblo's reading of a string stops at the buffer's end.
    std::memset(m_datagram.data(), 0, size);
}

int OscLink::onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* link)
{
    auto* self = static_cast<OscLink*>(link);
    ++self->m_messages;
    if (self->m_dropping)
        return 0;
    const auto& prefix = self->m_prefix;
    std::string cue = path;
    if (cue.size() > prefix.size() && cue.compare(0, prefix.size(), prefix) == 0)
        cue.erase(0, prefix.size());
    for (int i = 0; i < argc; ++i) {
        cue += ' ';
        switch (types[i]) {
        case LO_INT32:
            cue += std::to_string(argv[i]->i);
            break;
        case LO_INT64:
            cue += std::to_string(argv[i]->h);
            break;
        case LO_STRING:
        case LO_SYMBOL:
            cue += &argv[i]->s;
            break;
        default:
            // A float, a blob, a colour...: no cue takes one. Named by its type tag, so that
            // the cue is refused and says why.
            cue += std::string("(") + types[i] + ")";
        }
    }
    queueCue(cue);
    return 0;
}

}
