// The connection's thread: the broker's name looked up, connected, kept alive and made again
// after every loss, until the orderly end.
#include "MqttConnection.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mosquitto.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fw {

namespace {

// The broker hears from the program at least this often, and takes it as gone (its will) after
// one and a half times as long without a word, when it next looks (mosquitto looks every 6 s):
// a whole board stopped reads "offline" within 16 s.
constexpr int KeepAliveSeconds = 6;
// The thread wakes at least this often, to keep the connection alive and to give up on an
// attempt the broker does not answer; traffic, the state and the end wake it too.
constexpr int LoopTimeoutMs = 2000;
// The main thread's event loop that has not turned for this long is taken as frozen: the
// connection is dropped without a word, so that the broker sends the will, and made again once
// the loop turns.
constexpr auto FrozenAfter = std::chrono::seconds(10);
// How often a stop is looked for while the broker's name is being looked up.
constexpr timespec LookUpSlice { 0, 100'000'000 };
constexpr int FirstRetrySeconds = 1;
constexpr int LastRetrySeconds = 30;
// Once the broker has answered, it is tried at least this often: back within moments of its
// restart, however long it was away.
constexpr int LastRetryOnceAnsweredSeconds = 4;

}

void MqttConnection::run()
{
    int retry = FirstRetrySeconds;
    bool frozenTold = false;
    while (!stopRequested()) {
        if (frozen()) {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, LoopTimeoutMs * std::chrono::milliseconds(1), [this] { return stopping; });
            continue;
        }
        if (frozenTold && cues.tell)
            cues.tell("the board turns again: connecting to the broker at " + where);
        frozenTold = false;
        answered = everConnected = subscriptionRefused = false;
        tlsRefusal.clear();
        const int lookup = lookUp();
        if (lookup == EAI_CANCELED)
            break;
        // Connected in turns, where the end breaks in: neither the socket's connection nor
        // the TLS handshake waits.
        int result = lookup == 0 ? mosquitto_connect_async(client, cues.host.c_str(), cues.port, KeepAliveSeconds)
                                 : MOSQ_ERR_EAI;
        int error = lookup == 0 ? errno : 0;
        if (result == MOSQ_ERR_SUCCESS) {
            while (result == MOSQ_ERR_SUCCESS && !stopRequested() && !subscriptionRefused) {
                if (frozen()) {
                    // Gone without a word: the broker sends the will.
                    frozenTold = true;
                    if (cues.tell)
                        cues.tell("the board has not turned for " + std::to_string(FrozenAfter.count())
                            + " s: dropped the connection to the broker at " + where + ", which now says it is offline");
                    ::shutdown(mosquitto_socket(client), SHUT_RDWR);
                    mosquitto_loop(client, 0, 1);
                    break;
                }
                result = turn();
                error = errno;
            }
            if (result == MOSQ_ERR_SUCCESS && !frozenTold && (leavingRequested() || subscriptionRefused))
                leave();
            {
                const std::lock_guard lock(mutex);
                connected = false;
                std::erase_if(unheard, [](const Published& published) { return published.taken; });
            }
            if (frozenTold)
                continue; // waits for the loop to turn, at the top
            if (everConnected) {
                retry = FirstRetrySeconds;
                tellProblem("lost the connection to the broker at " + where + "; trying again");
            }
        }
        // A connection that never got as far as the broker's answer: the handshake that
        // failed (TLS) or the socket's error says why.
        if (!answered) {
            const bool said = result == MOSQ_ERR_ERRNO || result == MOSQ_ERR_TLS || result == MOSQ_ERR_EAI;
            const std::string why = result == MOSQ_ERR_ERRNO ? withoutFullStop(std::strerror(error))
                : result == MOSQ_ERR_TLS && !tlsRefusal.empty() ? tlsRefusal
                : lookup != 0                                   ? gai_strerror(lookup)
                                                                : withoutFullStop(mosquitto_strerror(result));
            tellProblem(said ? "cannot reach the broker at " + where + ": " + why + "; trying again"
                             : "the broker at " + where + " did not answer; trying again");
        }
        answeredOnce = answeredOnce || answered;
        std::unique_lock lock(mutex);
        wake.wait_for(lock, std::chrono::seconds(retry), [this] { return stopping; });
        retry = std::min(retry * 2, answeredOnce ? LastRetryOnceAnsweredSeconds : LastRetrySeconds);
    }
    const std::lock_guard lock(mutex);
    finished = true;
    wake.notify_all();
}

bool MqttConnection::frozen() const
{
    const auto turned = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastTurn.load()));
    return std::chrono::steady_clock::now() - turned > FrozenAfter;
}

// One turn of the connection: waits for the broker's socket or a wake, then lets the
// library read, write and keep the connection alive.
int MqttConnection::turn()
{
    pollfd ready[2] = {
        { mosquitto_socket(client), static_cast<short>(POLLIN | (mosquitto_want_write(client) ? POLLOUT : 0)), 0 },
        { wakeFd, POLLIN, 0 },
    };
    if (::poll(ready, 2, LoopTimeoutMs) < 0 && errno != EINTR)
        return MOSQ_ERR_ERRNO;
    std::uint64_t wakes = 0;
    if (ready[1].revents & POLLIN && ::read(wakeFd, &wakes, sizeof wakes) < 0)
        return MOSQ_ERR_ERRNO;
    return mosquitto_loop(client, 0, 1);
}

// The broker's name looked up where the end can break in (the library looks it up again,
// at once, from what the system has just learnt): a resolver that gets no answer takes
// many seconds. 0 once known, otherwise the lookup's error.
int MqttConnection::lookUp()
{
    struct Request {
        gaicb request {};
        addrinfo hints {};
    };
    auto lookup = std::make_unique<Request>();
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->request.ar_name = cues.host.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[] = { &lookup->request };
    if (const int error = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr))
        return error;
    int error = EAI_INPROGRESS;
    while ((error = gai_error(&lookup->request)) == EAI_INPROGRESS) {
        if (stopRequested()) {
            // A lookup under way cannot be called off: the resolver's own thread still
            // writes its answer into the request, which stays for it.
            if (gai_cancel(&lookup->request) != EAI_CANCELED)
                static_cast<void>(lookup.release());
            return EAI_CANCELED;
        }
        gai_suspend(list, 1, &LookUpSlice);
    }
    if (error == 0)
        freeaddrinfo(lookup->request.ar_result);
    return error;
}

bool MqttConnection::stopRequested()
{
    const std::lock_guard lock(mutex);
    return stopping;
}

bool MqttConnection::leavingRequested()
{
    const std::lock_guard lock(mutex);
    return leaving;
}

// The orderly end, once "offline" is written: the disconnect, written with nothing read
// meanwhile. The library takes any packet it reads after the disconnect call (the answer
// to "offline", a cue) as a breach of the protocol and closes the socket without writing
// the disconnect, and the broker then sends the will as well.
void MqttConnection::leave()
{
    // The library closes its socket as soon as the disconnect is written. A socket closed
    // with unread data (the board's own "offline" heard back, a cue) resets the connection,
    // and a broker reset before it has read the disconnect sends the will: the connection
    // is kept open here, and what comes read and dropped until the broker closes it.
    const int kept = mosquitto_socket(client) >= 0 ? ::fcntl(mosquitto_socket(client), F_DUPFD_CLOEXEC, 0) : -1;
    mosquitto_disconnect(client);
    const auto deadline = std::chrono::steady_clock::now() + StopWait / 2;
    while (mosquitto_socket(client) >= 0 && mosquitto_want_write(client)
        && std::chrono::steady_clock::now() < deadline) {
        if (mosquitto_loop_write(client, 1) != MOSQ_ERR_SUCCESS)
            break;
        pollfd writable { mosquitto_socket(client), POLLOUT, 0 };
        if (writable.fd >= 0 && mosquitto_want_write(client))
            ::poll(&writable, 1, 50);
    }
    char dropped[4096];
    while (kept >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd readable { kept, POLLIN, 0 };
        if (::poll(&readable, 1, 50) > 0 && ::recv(kept, dropped, sizeof dropped, 0) <= 0)
            break;
    }
    if (kept >= 0)
        ::close(kept);
}

// One line when the connection is lost or cannot be made, and one when it is back: a
// broker that stays away is not a line for every retry.
void MqttConnection::tellProblem(const std::string& line)
{
    if (!problem.empty() || stopRequested())
        return;
    problem = line;
    if (cues.tell)
        cues.tell(line);
}

}
