#pragma once

// Termination signals: caught from bring-up (or earlier, once), read by the event loop; the
// status the run ends with, which a stop request that has to end it at once still finds.
namespace fw {

void catchTerminationSignals();
// Before the event loop runs: waits until `descriptor` can be read, at most `milliseconds`
// (-1: no limit). 0 then; the status to end with if a termination signal came first.
int waitUnlessStopped(int descriptor, int milliseconds);
// From now on the event loop reads them: a termination signal ends the run, a SIGUSR1 calls
// `userSignal`.
void readTerminationSignals(void (*userSignal)());
void releaseTerminationSignals();
// Nothing waits for the user any more: from now on the rest of the quit has a few seconds,
// after which the program ends at once with the status decided.
void startQuitDeadline();

// The run ends with this status: the quit is decided.
void decideStatus(int status);
bool statusDecided();
int decidedStatus();
// Whether a termination signal ended the run: nobody waits at the screen any more.
bool endedBySignal();
// Tests: no status decided, no signal come.
void forgetDecidedStatus();

}
