// What the connection says to the broker and hears from it: the subscriptions, the board's
// state retained on its own topic, the cues.
#include "MqttConnection.h"
#include "CueLink.h"

#include <algorithm>
#include <cstring>
#include <mosquitto.h>
#include <unistd.h>

namespace fw {

namespace {

// The states kept while they are not heard back: a broker may never send them (its access rules).
constexpr std::size_t UnheardKept = 16;

}

std::string withoutFullStop(const char* said)
{
    std::string text = said;
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

MqttConnection::~MqttConnection()
{
    if (client)
        mosquitto_destroy(client);
    if (wakeFd >= 0)
        ::close(wakeFd);
}

void MqttConnection::wakeUp()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

void MqttConnection::logged(int level, const char* line)
{
    if (level != MOSQ_LOG_ERR || !line)
        return;
    if (std::strstr(line, "host name verification failed"))
        tlsRefusal = "its certificate is not for '" + cues.host + "'";
    else if (std::strstr(line, "certificate verify failed") && tlsRefusal.empty())
        tlsRefusal = "its certificate cannot be verified with the trusted authorities";
}

void MqttConnection::onConnect(int code)
{
    answered = true;
    if (code == 0)
        connectedNow();
    else
        tellProblem("the broker at " + where + " refused the connection: " + withoutFullStop(mosquitto_connack_string(code)));
}

// Connected once the subscription is taken too: a broker that refuses it (its access
// rules) is told once, and tried again as a lost connection.
void MqttConnection::subscribed(int count, const int* granted)
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

void MqttConnection::connectedNow()
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

void MqttConnection::publishState()
{
    if (!connected || state.empty())
        return;
    int id = 0;
    publishOnStateTopic(state, &id);
    unheard.push_back({ id, state });
    if (unheard.size() > UnheardKept) // a broker that does not send them back (its access rules)
        unheard.pop_front();
}

void MqttConnection::publishOnStateTopic(std::string_view text, int* id)
{
    mosquitto_publish(client, id, stateTopic.c_str(), static_cast<int>(text.size()), text.data(), 1, true);
}

// A state on this board's own topic, as it is published (not the one retained from before).
void MqttConnection::stateHeard(const std::string& heard)
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
    if (heard == Offline) {
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

void MqttConnection::onPublished(int id)
{
    const std::lock_guard lock(mutex);
    for (Published& published : unheard)
        published.taken = published.taken || published.id == id;
}

void MqttConnection::onMessage(const mosquitto_message& message)
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

}
