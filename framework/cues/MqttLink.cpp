// The MQTT link: the connection's thread started with the event loop and ended with the link,
// the loop's turns told to it, the board's state handed over.
#include "MqttLink.h"
#include "HostAndPort.h"
#include "MqttConnection.h"
#include "platform/Platform.h"

#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fw {

namespace {

// The main thread's event loop says it turns this often (a loop that has not for long is
// frozen: MqttConnection).
constexpr auto TurnsEvery = std::chrono::seconds(2);
// The longest certificate authority file read (the system's whole bundle is about 200 KB).
constexpr std::size_t LargestAuthorityFile = 4 << 20;

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

class MqttLink final : public CueLink {
public:
    explicit MqttLink(std::shared_ptr<MqttConnection> connection)
        : m_connection(std::move(connection))
    {
    }
    ~MqttLink() override;

    void start() override;
    void announce(const std::string& state) override;

private:
    // Shared with the thread, which may outlive the link only while the library looks up the
    // broker's name that the thread has just looked up itself.
    std::shared_ptr<MqttConnection> m_connection;
    std::thread m_thread;
    std::unique_ptr<QTimer> m_turns;
};

}

bool isPlainMqttTopic(const std::string& topic)
{
    return !topic.empty() && topic.back() != '/' && topic.find_first_of(std::string_view("+#\0", 3)) == std::string::npos;
}

std::unique_ptr<CueLink> makeMqttLink(const MqttCues& cues, std::string& why)
{
    if (cues.name.empty() || cues.name.find_first_of("/+#") != std::string::npos) {
        why = "the board's name '" + cues.name + "' is not one topic level";
        return nullptr;
    }
    if (!isPlainMqttTopic(cues.topic)) {
        why = "the topic '" + cues.topic + "' is not one topic without + or #";
        return nullptr;
    }
    mosquitto_lib_init();
    auto connection = std::make_shared<MqttConnection>();
    connection->cues = cues;
    connection->ownTopic = cues.topic + "/" + cues.name;
    connection->stateTopic = connection->ownTopic + "/state";
    connection->where = hostAndPort(cues.host, cues.port);
    mosquitto* client = mosquitto_new(nullptr, true, connection.get());
    if (!client) {
        why = "cannot make an MQTT client";
        return nullptr;
    }
    connection->client = client;
    connection->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connection->wakeFd < 0) {
        why = "cannot make an MQTT client: " + withoutFullStop(std::strerror(errno));
        return nullptr;
    }
    mosquitto_threaded_set(client, true);
    mosquitto_will_set(client, connection->stateTopic.c_str(), static_cast<int>(Offline.size()), Offline.data(), 1, true);
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
        static_cast<MqttConnection*>(self)->onConnect(code);
    });
    mosquitto_log_callback_set(client, [](mosquitto*, void* self, int level, const char* line) {
        static_cast<MqttConnection*>(self)->logged(level, line);
    });
    mosquitto_subscribe_callback_set(client, [](mosquitto*, void* self, int, int count, const int* granted) {
        static_cast<MqttConnection*>(self)->subscribed(count, granted);
    });
    mosquitto_publish_callback_set(client, [](mosquitto*, void* self, int id) {
        static_cast<MqttConnection*>(self)->onPublished(id);
    });
    mosquitto_message_callback_set(client, [](mosquitto*, void* self, const mosquitto_message* message) {
        static_cast<MqttConnection*>(self)->onMessage(*message);
    });
    return std::make_unique<MqttLink>(std::move(connection));
}

MqttLink::~MqttLink()
{
    MqttConnection& c = *m_connection;
    {
        std::unique_lock lock(c.mutex);
        c.stopping = true;
        if (c.connected) {
            // Gone for good, not lost: the state says so at once (queuing it wakes the thread),
            // and the will is not sent.
            c.publishOnStateTopic(Offline);
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
    MqttConnection& c = *m_connection;
    const std::lock_guard lock(c.mutex);
    c.state = state;
    c.publishState();
    c.wakeUp();
}

}
