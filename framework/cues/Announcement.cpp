// DNS-SD through Avahi's client library, on a thread of its own: every call below but the
// making and the end runs there, from Avahi's callbacks.
#include "Announcement.h"
#include "base/StandardError.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>
#include <utility>

namespace fw {

struct Announcement::Avahi {
    std::string name; // as announced: changed after a collision
    std::vector<std::string> types;
    std::uint16_t port = 0;
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    bool toldAbsent = false;
};

namespace {

using Avahi = Announcement::Avahi;

std::string failure(AvahiClient* client)
{
    return avahi_strerror(avahi_client_errno(client));
}

void rename(Avahi& avahi)
{
    char* other = avahi_alternative_service_name(avahi.name.c_str());
    sayLine("another service on the network is named " + avahi.name + ": announced as " + other + " instead");
    avahi.name = other;
    avahi_free(other);
}

void sayNoDaemon(const std::string& until)
{
    sayLine("no Avahi daemon runs: the board is not announced on the network" + until
        + " (its cues reach it all the same)");
}

void groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data);

void addServices(Avahi& avahi)
{
    if (!avahi.group)
        avahi.group = avahi_entry_group_new(avahi.client, &groupChanged, &avahi);
    if (!avahi.group) {
        sayLine("not announced on the network: " + failure(avahi.client));
        return;
    }
    for (;;) {
        int error = 0;
        for (const std::string& type : avahi.types) {
            error = avahi_entry_group_add_service(avahi.group, avahi.interface, avahi.protocol, AvahiPublishFlags(0),
                avahi.name.c_str(), type.c_str(), nullptr, nullptr, avahi.port, nullptr);
            if (error < 0)
                break;
        }
        if (error == AVAHI_ERR_COLLISION) {
            rename(avahi);
            avahi_entry_group_reset(avahi.group);
            continue;
        }
        if (error >= 0)
            error = avahi_entry_group_commit(avahi.group);
        if (error < 0)
            sayLine("not announced on the network: " + std::string(avahi_strerror(error)));
        return;
    }
}

void groupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* data)
{
    Avahi& avahi = *static_cast<Avahi*>(data);
    avahi.group = group; // called before avahi_entry_group_new returns, too
    if (state == AVAHI_ENTRY_GROUP_COLLISION) {
        rename(avahi);
        avahi_entry_group_reset(group);
        addServices(avahi);
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
        sayLine("not announced on the network: " + failure(avahi_entry_group_get_client(group)));
    }
}

void clientChanged(AvahiClient* client, AvahiClientState state, void* data)
{
    Avahi& avahi = *static_cast<Avahi*>(data);
    avahi.client = client; // called before avahi_client_new returns, too
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (!avahi.group || avahi_entry_group_is_empty(avahi.group))
            addServices(avahi);
        break;
    case AVAHI_CLIENT_S_COLLISION: // the machine's own host name: announced again once renamed
    case AVAHI_CLIENT_S_REGISTERING:
        if (avahi.group)
            avahi_entry_group_reset(avahi.group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!std::exchange(avahi.toldAbsent, true))
            sayNoDaemon(" until one does");
        break;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
            // The daemon ended (restarted, or stopped): its successor is waited for.
            avahi_client_free(client);
            avahi.client = nullptr;
            avahi.group = nullptr;
            int error = 0;
            avahi.client = avahi_client_new(avahi_threaded_poll_get(avahi.poll), AVAHI_CLIENT_NO_FAIL, &clientChanged,
                &avahi, &error);
            if (!avahi.client)
                sayLine("not announced on the network: " + std::string(avahi_strerror(error)));
        } else {
            sayLine("not announced on the network: " + failure(client));
        }
        break;
    }
}

// The interface that holds `address`, and the protocol it is announced over.
void placeOf(const std::string& address, Avahi& avahi)
{
    in6_addr ip6 {};
    in_addr ip4 {};
    const bool v4 = ::inet_pton(AF_INET, address.c_str(), &ip4) == 1;
    if (!v4 && ::inet_pton(AF_INET6, address.c_str(), &ip6) != 1)
        return;
    if (v4 ? ip4.s_addr == INADDR_ANY : IN6_IS_ADDR_UNSPECIFIED(&ip6)) {
        // A socket on IPv6's wildcard takes IPv4 too.
        avahi.protocol = v4 ? AVAHI_PROTO_INET : AVAHI_PROTO_UNSPEC;
        return;
    }
    avahi.protocol = v4 ? AVAHI_PROTO_INET : AVAHI_PROTO_INET6;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return;
    for (const ifaddrs* one = all; one; one = one->ifa_next) {
        if (!one->ifa_addr || one->ifa_addr->sa_family != (v4 ? AF_INET : AF_INET6))
            continue;
        const bool same = v4 ? reinterpret_cast<const sockaddr_in*>(one->ifa_addr)->sin_addr.s_addr == ip4.s_addr
                             : std::memcmp(&reinterpret_cast<const sockaddr_in6*>(one->ifa_addr)->sin6_addr, &ip6,
                                   sizeof ip6) == 0;
        if (same) {
            avahi.interface = static_cast<AvahiIfIndex>(::if_nametoindex(one->ifa_name));
            break;
        }
    }
    ::freeifaddrs(all);
}

}

Announcement::Announcement(const std::string& name, const std::vector<std::string>& types, const std::string& address,
    std::uint16_t port)
    : m_avahi(std::make_unique<Avahi>())
{
    Avahi& avahi = *m_avahi;
    avahi.name = name;
    avahi.types = types;
    avahi.port = port;
    placeOf(address, avahi);
    avahi.poll = avahi_threaded_poll_new();
    if (!avahi.poll) {
        sayLine("not announced on the network: no memory");
        return;
    }
    int error = 0;
    avahi_threaded_poll_lock(avahi.poll);
    avahi.client = avahi_client_new(avahi_threaded_poll_get(avahi.poll), AVAHI_CLIENT_NO_FAIL, &clientChanged,
        &avahi, &error);
    avahi_threaded_poll_unlock(avahi.poll);
    if (!avahi.client) {
        // No system bus either.
        if (error == AVAHI_ERR_NO_DAEMON)
            sayNoDaemon("");
        else
            sayLine("not announced on the network: " + std::string(avahi_strerror(error)));
        return;
    }
    avahi_threaded_poll_start(avahi.poll);
}

Announcement::~Announcement()
{
    Avahi& avahi = *m_avahi;
    if (!avahi.poll)
        return;
    avahi_threaded_poll_stop(avahi.poll);
    if (avahi.client)
        avahi_client_free(avahi.client); // its services leave the network with it
    avahi_threaded_poll_free(avahi.poll);
}

}
