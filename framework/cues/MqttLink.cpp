#include "MqttLink.h"
#include "platform/Platform.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mosquitto.h>
#include <mutex>
#include <thread>

namespace fw {

namespace {

// The broker hears from the program at least this often; a broker that stays silent for
// one and a half times as long is taken as gone.
constexpr int KeepAliveSeconds = 30;
// The thread wakes at least this often to keep the connection alive; nothing else wakes it
// but traffic.
constexpr int LoopTimeoutMs = KeepAliveSeconds * 1000 / 2;
constexpr int FirstRetrySeconds = 1;
constexpr int LastRetrySeconds = 30;
constexpr auto StopWait = std::chrono::seconds(1);

// The library's words, within a line of the program's own: without their full stop.
std::string words(const char* said)
{
    std::string text = said;
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

}

struct MqttLink::Connection {
    MqttCues cues;
    std::string stateTopic;
    std::string where; // HOST:PORT, for the lines told
    mosquitto* client = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool finished = false;
    bool connected = false;
    bool leaving = false; // "offline" and the disconnect are queued: the thread sends them
    std::string state;

    // The thread's own: the problem last told, empty while the connection is up; whether the
    // broker answered the attempt, and took it.
    std::string problem;
    bool answered = false;
    bool everConnected = false;

    ~Connection()
    {
        if (client)
            mosquitto_destroy(client);
    }

    bool stopRequested()
    {
        const std::lock_guard lock(mutex);
        return stopping;
    }

    bool keepLooping()
    {
        const std::lock_guard lock(mutex);
        return !stopping || leaving;
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

    void connectedNow()
    {
        if (!problem.empty() && cues.tell)
            cues.tell("connected to the broker at " + where + " again");
        problem.clear();
        everConnected = true;
        mosquitto_subscribe(client, nullptr, cues.topic.c_str(), 1);
        // Over the will's "offline" that a lost connection left; under the lock, as announce
        // publishes, so that the newest state always goes out last.
        const std::lock_guard lock(mutex);
        connected = true;
        publishState();
    }

    // With the mutex held.
    void publishState()
    {
        if (connected && !state.empty())
            mosquitto_publish(client, nullptr, stateTopic.c_str(), static_cast<int>(state.size()), state.data(), 1, true);
    }

    void run()
    {
        int retry = FirstRetrySeconds;
        while (!stopRequested()) {
            answered = everConnected = false;
            int result = mosquitto_connect(client, cues.host.c_str(), cues.port, KeepAliveSeconds);
            int error = errno;
            if (result == MOSQ_ERR_SUCCESS) {
                while (result == MOSQ_ERR_SUCCESS && keepLooping()) {
                    result = mosquitto_loop(client, LoopTimeoutMs, 1);
                    error = errno;
                }
                {
                    const std::lock_guard lock(mutex);
                    connected = false;
                }
                if (everConnected) {
                    retry = FirstRetrySeconds;
                    tellProblem("lost the connection to the broker at " + where + "; trying again");
                }
            }
            // A connection that never got as far as the broker's answer: the handshake that
            // failed (TLS) or the socket's error says why.
            if (!answered) {
                const bool said = result == MOSQ_ERR_ERRNO || result == MOSQ_ERR_TLS || result == MOSQ_ERR_EAI;
                tellProblem(said ? "cannot reach the broker at " + where + ": "
                            + words(result == MOSQ_ERR_ERRNO ? std::strerror(error) : mosquitto_strerror(result)) + "; trying again"
                                 : "the broker at " + where + " did not answer; trying again");
            }
            std::unique_lock lock(mutex);
            wake.wait_for(lock, std::chrono::seconds(retry), [this] { return stopping; });
            retry = std::min(retry * 2, LastRetrySeconds);
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

    void onMessage(const mosquitto_message& message)
    {
        // A retained message is what the topic held before: a broker's restart, or the
        // program's, must not replay the last cue.
        if (message.retain || cues.topic != message.topic)
            return;
        const std::lock_guard lock(mutex);
        if (!stopping)
            queueCue({ static_cast<const char*>(message.payload), static_cast<std::size_t>(message.payloadlen) });
    }
};

std::unique_ptr<MqttLink> MqttLink::make(const MqttCues& cues, std::string& why)
{
    mosquitto_lib_init();
    auto connection = std::make_shared<Connection>();
    connection->cues = cues;
    connection->stateTopic = cues.topic + "/state";
    connection->where = (cues.host.find(':') != std::string::npos ? "[" + cues.host + "]" : cues.host) + ":" + std::to_string(cues.port);
    mosquitto* client = mosquitto_new(nullptr, true, connection.get());
    if (!client) {
        why = "cannot make an MQTT client";
        return nullptr;
    }
    connection->client = client;
    mosquitto_threaded_set(client, true);
    mosquitto_will_set(client, connection->stateTopic.c_str(), 7, "offline", 1, true);
    if (!cues.user.empty())
        mosquitto_username_pw_set(client, cues.user.c_str(), cues.password.c_str());
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
            // Gone for good, not lost: the state says so at once, and the will is not sent.
            mosquitto_publish(c.client, nullptr, c.stateTopic.c_str(), 7, "offline", 1, true);
            mosquitto_disconnect(c.client);
            c.leaving = true;
        }
        c.wake.notify_all();
        if (!m_thread.joinable())
            return;
        if (!c.wake.wait_for(lock, StopWait, [&c] { return c.finished; })) {
            // Still connecting, where nothing breaks in: the thread ends on its own, with its
            // share of the connection.
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
}

}
