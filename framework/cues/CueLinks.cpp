// The cues' way into the program: the links the command line opened, the application's
// Event_Cue, and the state told to every link.
#include "CueLinks.h"
#include "CueLink.h"
#include "CueQueue.h"
#include "Cues.h"
#include "MqttLink.h"
#include "OscLink.h"
#include "base/StandardError.h"

#include <memory>
#include <vector>

namespace fw {

namespace {

// Never destroyed: an MQTT thread may still be ending at exit.
CueQueue& cueQueue()
{
    static auto* queue = new CueQueue;
    return *queue;
}

// Opened by the command line, until shut-down; never destroyed either, for a toolkit that ends
// the process itself.
std::vector<std::unique_ptr<CueLink>>& links()
{
    static auto* opened = new std::vector<std::unique_ptr<CueLink>>;
    return *opened;
}

// Where cues go (receiveCues): the life cycle raises them on the application.
void (*s_receive)(const std::string& cue) = nullptr;

}

void queueCue(std::string_view cue, std::function<void()> then)
{
    cueQueue().push(cue, std::move(then));
}

void receiveCues(void (*receive)(const std::string& cue))
{
    s_receive = receive;
}

void deliverCue(const std::string& cue)
{
    if (s_receive)
        s_receive(cue);
}

std::string listenForOsc(const OscCues& cues)
{
    std::string why;
    if (auto link = openOscLink(cues, why))
        links().push_back(std::move(link));
    return why;
}

std::string followMqtt(const MqttCues& cues)
{
    std::string why;
    if (auto link = makeMqttLink(cues, why))
        links().push_back(std::move(link));
    return why;
}

namespace {

std::string s_announced;
bool s_readsStandby = false;

void tellLinks(const std::string& state)
{
    for (const auto& link : links())
        link->announce(state);
}

}

void announceState(const std::string& state)
{
    s_announced = state;
    if (!s_readsStandby)
        tellLinks(state);
}

void announceStandby(bool standby)
{
    s_readsStandby = standby;
    if (standby)
        tellLinks("standby");
    else if (!s_announced.empty())
        tellLinks(s_announced);
}

void dropWaitingCues(const std::string& why)
{
    std::size_t count = 0;
    for (const auto& link : links())
        count += link->dropWaiting();
    if (count > 0)
        sayLine("dropped " + std::to_string(count) + (count == 1 ? " cue " : " cues ") + why);
}

void startCueLinks()
{
    cueQueue().start();
    for (const auto& link : links())
        link->start();
}

void endCueLinks()
{
    links().clear();
    cueQueue().stop();
}

}
