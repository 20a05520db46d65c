// The cues' way into the program: the links the command line opened, the application's
// Event_Cue, and the state told to every link.
#include "CueLink.h"
#include "CueQueue.h"
#include "MqttLink.h"
#include "OscLink.h"
#include "runtime/RuntimeState.h"
#include "Cues.h"
#include "runtime/Runtime.h"

namespace fw {

namespace {

// Never destroyed, as the runtime's state: an MQTT thread may still be ending at exit.
CueQueue& cueQueue()
{
    static auto* queue = new CueQueue;
    return *queue;
}

}

void queueCue(std::string_view cue, std::function<void()> then)
{
    cueQueue().push(cue, std::move(then));
}

void deliverCue(const std::string& cue)
{
    RuntimeState& s = runtimeState();
    if (s.quit || !s.application)
        return;
    Application* app = s.application.get();
    Runtime::dispatch([app, &cue] { app->Event_Cue(cue); });
}

std::string listenForOsc(const OscCues& cues)
{
    std::string why;
    if (auto link = OscLink::open(cues, why))
        runtimeState().cueLinks.push_back(std::move(link));
    return why;
}

std::string followMqtt(const MqttCues& cues)
{
    std::string why;
    if (auto link = MqttLink::make(cues, why))
        runtimeState().cueLinks.push_back(std::move(link));
    return why;
}

namespace {

std::string s_announced;
bool s_readsStandby = false;

void tellLinks(const std::string& state)
{
    for (const auto& link : runtimeState().cueLinks)
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
    for (const auto& link : runtimeState().cueLinks)
        count += link->dropWaiting();
    if (count > 0)
        sayLine("dropped " + std::to_string(count) + (count == 1 ? " cue " : " cues ") + why);
}

void startCueLinks()
{
    cueQueue().start();
    for (const auto& link : runtimeState().cueLinks)
        link->start();
}

void endCueLinks()
{
    runtimeState().cueLinks.clear();
    cueQueue().stop();
}

}
