#include "MqttLink.h"
#include "platform/Platform.h"

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mosquitto.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
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
// The main thread's event loop says it turns this often; one that has not for the longer time
// is taken as frozen: the connection is dropped without a word, so that the broker sends the
// will, and made again once the loop turns.
constexpr auto TurnsEvery = std::chrono::seconds(2);
constexpr auto FrozenAfter = std::chrono::seconds(10);
// How often a stop is looked for while the broker's name is being looked up.
constexpr timespec LookUpSlice { 0, 100'000'000 };
constexpr int FirstRetrySeconds = 1;
constexpr int LastRetrySeconds = 30;
// Once the broker has answered, it is tried at least this often: back within moments of its
// restart, however long it was away.
constexpr int LastRetryOnceAnsweredSeconds = 4;
// The longest certificate authority file read (the system's whole bundle is about 200 KB).
constexpr std::size_t LargestAuthorityFile = 4 << 20;
constexpr auto StopWait = std::chrono::milliseconds(1000);
constexpr std::size_t UnheardKept = 16;

// The library's words, within a line of the program's own: without their full stop.
std::string words(const char* said)
{
    std::string text = said;
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

// What keeps the file from being a certificate authority as the TLS library reads one (PEM),
// or nothing. Opened without waiting: a FIFO would hold the start up.
std::string authorityProblem(const std::string& file)
{
    const std::string named = "the certificate authority in '" + file + "'";
    const int in = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0)
        return "cannot read " + named;
    struct stat status {};
    std::string text;
    if (::fstat(in, &status) == 0 && S_ISREG(status.st_mode)) {
        text.resize(LargestAuthorityFile);
        const ssize_t size = ::read(in, text.data(), text.size());
        text.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    }
    ::close(in);
    if (!S_ISREG(status.st_mode))
        return "cannot read " + named + ": not a regular file";
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos
        && text.find("-----BEGIN TRUSTED CERTIFICATE-----") == std::string::npos)
        return named + " holds no certificate (PEM)";
    return {};
}

}

struct MqttLink::Connection {
    MqttCues cues;
    std::string ownTopic; // TOPIC/NAME: cues for this board alone
    std::string stateTopic; // TOPIC/NAME/state
    std::string where; // HOST:PORT, for the lines told
    mosquitto* client = nullptr;
    int wakeFd = -1; // an eventfd: the state to publish, or the end
    // When the main thread's event loop last turned (steady clock, since its epoch).
    std::atomic<std::chrono::steady_clock::rep> lastTurn { 0 };

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool finished = false;
    bool connected = false;
    bool leaving = false; // "offline" is queued: the thread sends it, and the disconnect
    std::string state;
    // What this board published on its state topic and has not heard back yet, and whether the
    // broker took it: what the topic brings besides is another's. What the broker did not take
    // before a connection was lost, the library sends again on the next.
    struct Published {
        int id = 0;
        std::string state;
        bool taken = false;
    };
    std::deque<Published> unheard;
    bool namesakeTold = false;

    // The thread's own: the problem last told, empty while the connection is up; whether the
    // broker answered the attempt, and took it with the subscription; whether it ever answered.
    std::string problem;
    bool answered = false;
    bool everConnected = false;
    bool answeredOnce = false;
    bool subscriptionRefused = false;
    // Why the TLS handshake of this attempt refused the broker, as the library logged it.
    std::string tlsRefusal;

    void logged(int level, const char* line)
    {
        if (level != MOSQ_LOG_ERR || !line)
            return;
        if (std::strstr(line, "host name verification failed"))
            tlsRefusal = "its certificate is not for '" + cues.host + "'";
        else if (std::strstr(line, "certificate verify failed") && tlsRefusal.empty())
            tlsRefusal = "its certificate cannot be verified with the trusted authorities";
    }

    ~Connection()
    {
        if (client)
            mosquitto_destroy(client);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    bool frozen() const
    {
        const auto turned = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastTurn.load()));
        return std::chrono::steady_clock::now() - turned > FrozenAfter;
    }

    void wakeUp()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }

    // One turn of the connection: waits for the broker's socket or a wake, then lets the
    // library read, write and keep the connection alive.
    int turn()
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
    int lookUp()
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

    bool stopRequested()
    {
        const std::lock_guard lock(mutex);
        return stopping;
    }

    bool leavingRequested()
    {
        const std::lock_guard lock(mutex);
        return leaving;
    }

    // The orderly end, once "offline" is written: the disconnect, written with nothing read
    // meanwhile. The library takes any packet it reads after the disconnect call (the answer
    // to "offline", a cue) as a breach of the protocol and closes the socket without writing
    // the disconnect, and the broker then sends the will as well.
    void leave()
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
    void tellProblem(const std::string& line)
    {
        if (!problem.empty() || stopRequested())
            return;
        problem = line;
        if (cues.tell)
            cues.tell(line);
    }

    // Connected once the subscription is taken too: a broker that refuses it (its access
    // rules) is told once, and tried again as a lost connection.
    void subscribed(int count, const int* granted)
    {
        if (count < 1 || std::any_of(granted, granted + count, [](int qos) { return qos >= 0x80; })) {
            tellProblem("the broker at " + where + " refused the subscription to '" + cues.topic + "'; trying again");
            subscriptionRefused = true; // left as at the end: cleanly, without the will
            return;
        }
        if (!problem.empty() && cues.tell)
            cues.tell("connected to the broker at " + where + " again");
        problem.clear();
        everConnected = true;
    }

    void connectedNow()
    {
        // Cues for every board and for this one, and this board's own state topic, where a
        // namesake or an earlier run's will would show.
        char* topics[] = { cues.topic.data(), ownTopic.data(), stateTopic.data() };
        mosquitto_subscribe_multiple(client, nullptr, 3, topics, 1, 0, nullptr);
        // Over the will's "offline" that a lost connection left; under the lock, as announce
        // publishes, so that the newest state always goes out last.
        const std::lock_guard lock(mutex);
        connected = true;
        publishState();
    }

    // With the mutex held.
    void publishState()
    {
        if (!connected || state.empty())
            return;
        int id = 0;
        mosquitto_publish(client, &id, stateTopic.c_str(), static_cast<int>(state.size()), state.data(), 1, true);
        unheard.push_back({ id, state });
        if (unheard.size() > UnheardKept) // a broker that does not send them back (its access rules)
            unheard.pop_front();
    }

    // A state on this board's own topic, as it is published (not the one retained from before).
    void stateHeard(const std::string& heard)
    {
        const std::lock_guard lock(mutex);
        if (stopping)
            return;
        const auto own = std::find_if(unheard.begin(), unheard.end(), [&heard](const Published& published) {
            return published.state == heard;
        });
        if (own != unheard.end()) {
            unheard.erase(own);
            return;
        }
        if (heard == "offline") {
            // An earlier run's will, sent late (a power cut the broker noticed only now), or a
            // namesake gone: this board is still up, and says so again.
            publishState();
            return;
        }
        if (namesakeTold)
            return;
        namesakeTold = true;
        if (cues.tell)
            cues.tell("another board named '" + cues.name + "' publishes its state on the broker at " + where
                + ": give each board a name of its own (--name)");
        publishState(); // so that the other hears of this one too
    }

    void run()
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
                const std::string why = result == MOSQ_ERR_ERRNO ? words(std::strerror(error))
                    : result == MOSQ_ERR_TLS && !tlsRefusal.empty() ? tlsRefusal
                    : lookup != 0                                   ? gai_strerror(lookup)
                                                                    : words(mosquitto_strerror(result));
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

    void onConnect(int code)
    {
        answered = true;
        if (code == 0)
            connectedNow();
        else
            tellProblem("the broker at " + where + " refused the connection: " + words(mosquitto_connack_string(code)));
    }

    void onPublished(int id)
    {
        const std::lock_guard lock(mutex);
        for (Published& published : unheard)
            published.taken = published.taken || published.id == id;
    }

    void onMessage(const mosquitto_message& message)
    {
        // A retained message is what the topic held before: a broker's restart, or the
        // program's, must not replay the last cue.
        if (message.retain)
            return;
        const std::string_view payload(static_cast<const char*>(message.payload), static_cast<std::size_t>(message.payloadlen));
        if (stateTopic == message.topic) {
            stateHeard(std::string(payload));
            return;
        }
        if (cues.topic != message.topic && ownTopic != message.topic)
            return;
        const std::lock_guard lock(mutex);
        if (!stopping)
            queueCue(payload);
    }
};

std::unique_ptr<MqttLink> MqttLink::make(const MqttCues& cues, std::string& why)
{
    if (cues.name.empty() || cues.name.find_first_of("/+#") != std::string::npos) {
        why = "the board's name '" + cues.name + "' is not one topic level";
        return nullptr;
    }
    mosquitto_lib_init();
    auto connection = std::make_shared<Connection>();
    connection->cues = cues;
    connection->ownTopic = cues.topic + "/" + cues.name;
    connection->stateTopic = connection->ownTopic + "/state";
    connection->where = (cues.host.find(':') != std::string::npos ? "[" + cues.host + "]" : cues.host) + ":" + std::to_string(cues.port);
    mosquitto* client = mosquitto_new(nullptr, true, connection.get());
    if (!client) {
        why = "cannot make an MQTT client";
        return nullptr;
    }
    connection->client = client;
    connection->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connection->wakeFd < 0) {
        why = "cannot make an MQTT client: " + words(std::strerror(errno));
        return nullptr;
    }
    mosquitto_threaded_set(client, true);
    mosquitto_will_set(client, connection->stateTopic.c_str(), 7, "offline", 1, true);
    if (!cues.user.empty() && mosquitto_username_pw_set(client, cues.user.c_str(), cues.password.c_str()) != MOSQ_ERR_SUCCESS) {
        why = "the MQTT user name is not UTF-8 text, which the broker needs";
        return nullptr;
    }
    if (cues.tls && !cues.caFile.empty() && !(why = authorityProblem(cues.caFile)).empty())
        return nullptr;
    if (cues.tls) {
        const int result = cues.caFile.empty()
            ? mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
            : mosquitto_tls_set(client, cues.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (result != MOSQ_ERR_SUCCESS) {
            why = cues.caFile.empty() ? "cannot use the system's certificate authorities"
                                      : "cannot read the certificate authority in '" + cues.caFile + "'";
            return nullptr;
        }
    }
    mosquitto_connect_callback_set(client, [](mosquitto*, void* self, int code) {
        static_cast<Connection*>(self)->onConnect(code);
    });
    mosquitto_log_callback_set(client, [](mosquitto*, void* self, int level, const char* line) {
        static_cast<Connection*>(self)->logged(level, line);
    });
    mosquitto_subscribe_callback_set(client, [](mosquitto*, void* self, int, int count, const int* granted) {
        static_cast<Connection*>(self)->subscribed(count, granted);
    });
    mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int id) {
        static_cast<Connection*>(self)->onPublished(id);
    });
    mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* message) {
        static_cast<Connection*>(self)->onMessage(*message);
    });
    return std::unique_ptr<MqttLink>(new MqttLink(std::move(connection)));
}

MqttLink::MqttLink(std::shared_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
}

MqttLink::~MqttLink()
{
    Connection& c = *m_connection;
    {
        std::unique_lock lock(c.mutex);
        c.stopping = true;
        if (c.connected) {
            // Gone for good, not lost: the state says so at once (queuing it wakes the thread),
            // and the will is not sent.
            mosquitto_publish(c.client, nullptr, c.stateTopic.c_str(), 7, "offline", 1, true);
            c.leaving = true;
        }
        c.wake.notify_all();
        c.wakeUp();
        if (!m_thread.joinable())
            return;
        if (!c.wake.wait_for(lock, StopWait, [&c] { return c.finished; })) {
            // Only the library's own lookup of the broker's name, just made by the thread, does
            // not break off: the thread ends on its own, with its share of the connection.
            lock.unlock();
            if (m_thread.joinable())
                m_thread.detach();
            return;
        }
    }
    if (m_thread.joinable())
        m_thread.join();
}

void MqttLink::start()
{
    // The event loop's turns, told to the connection's thread.
    const auto turned = [connection = m_connection] {
        connection->lastTurn = std::chrono::steady_clock::now().time_since_epoch().count();
    };
    turned();
    m_turns = std::make_unique<QTimer>();
    QObject::connect(m_turns.get(), &QTimer::timeout, turned);
    m_turns->start(TurnsEvery);
    m_thread = std::thread([connection = m_connection] {
        const platform::CrashStack stack;
        connection->run();
    });
}

void MqttLink::announce(const std::string& state)
{
    Connection& c = *m_connection;
    const std::lock_guard lock(c.mutex);
    c.state = state;
    c.publishState();
    c.wakeUp();
}

}
