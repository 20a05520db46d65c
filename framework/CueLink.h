#pragma once

#include <string>

namespace fw {

// One way that cues come in. The runtime holds each from the command line's check until
// shut-down.
class CueLink {
public:
    virtual ~CueLink() = default;
    // The toolkit has started: cues are delivered from now on.
    virtual void start() = 0;
    // The program's state changed (announceState).
    virtual void announce(const std::string& state) = 0;
};

// Raises the application's Event_Cue on the main thread, unless the run is ending.
void deliverCue(const std::string& cue);

}
