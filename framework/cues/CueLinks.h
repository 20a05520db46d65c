#pragma once

#include <string>

// The cue links as the life cycle runs them. Not for use outside the layer.
namespace fw {

// Cues are handed to `receive` on the main thread, each once it comes.
void receiveCues(void (*receive)(const std::string& cue));
// Started once the toolkit has, ended before the windows go.
void startCueLinks();
void endCueLinks();
// Before start: the cues that have come are forgotten, with one line ending in `why`.
void dropWaitingCues(const std::string& why);
// While the display is in standby every link reads "standby", whatever the program announces;
// awake, the state it announced last.
void announceStandby(bool standby);

}
