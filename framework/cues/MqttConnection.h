#pragma once

// The connection to the broker, run by the MQTT link on a thread of its own, with libmosquitto.
#include "Cues.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

struct mosquitto;
struct mosquitto_message;

namespace fw {

// What the broker says for the board once it is gone: its will, or its own last word.
constexpr std::string_view Offline = "offline";
// How long the end waits for the thread, half of it for the orderly leave.
constexpr auto StopWait = std::chrono::milliseconds(1000);

// The library's words, within a line of the program's own: without their full stop.
std::string withoutFullStop(const char* said);

struct MqttConnection {
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

    ~MqttConnection();
    // The thread's whole run: connected, kept and made again until the end.
    void run();
    void wakeUp();
    // The board's state, retained on its state topic, once connected; with the mutex held.
    void publishState();
    // Retained on the board's state topic; `id` (if asked for) names the message.
    void publishOnStateTopic(std::string_view text, int* id = nullptr);

    // The library's calls, on the thread.
    void logged(int level, const char* line);
    void onConnect(int code);
    void subscribed(int count, const int* granted);
    void onPublished(int id);
    void onMessage(const mosquitto_message& message);

private:
    bool frozen() const;
    int turn();
    int lookUp();
    bool stopRequested();
    bool leavingRequested();
    void leave();
    void tellProblem(const std::string& line);
    void connectedNow();
    void stateHeard(const std::string& heard);
};

}
