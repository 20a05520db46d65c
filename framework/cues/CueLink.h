#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace fw {

// One way that cues come in. Each is held from the command line's check until
// shut-down.
class CueLink {
public:
    virtual ~CueLink() = default;
    // The toolkit has started: cues are delivered from now on.
    virtual void start() = 0;
    // The program's state changed (announceState).
    virtual void announce(const std::string& state) = 0;
    // Before start: forgets the cues that have come, and says how many.
    virtual std::size_t dropWaiting() { return 0; }
};

// Queues a cue for the main thread, from any thread (see CueQueue): it is cut there to the
// longest a cue can be. `then`, if given, runs on the main thread once the cue has been acted on
// (an empty cue is no cue: `then` alone).
void queueCue(std::string_view cue, std::function<void()> then = {});
// On the main thread: hands the cue to where cues go (receiveCues).
void deliverCue(const std::string& cue);

}
