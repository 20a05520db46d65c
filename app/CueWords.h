#pragma once

#include "CommandLine.h"

#include <cstdint>
#include <optional>
#include <string>

// A cue from the show, as the operator's desk sends it.
struct Cue {
    enum class Kind {
        Go, // the start window opens the board, as GO does
        BackToOne, // every block lit, the blink from its first tick
        Hold, // the board stops changing
        Resume, // and goes on where it held
        Dark, // every block out, held
        Standby, // the display itself off
        Wake, // and on again
        Seed, // another sequence, from its first tick
        Release, // a control surface's button let go (the press was the cue): nothing
    };
    Kind kind = Kind::Go;
    std::uint32_t seed = 0;
};

// The cue the text names ("back-to-one", "seed 42"; blanks around it do not count), if any. A
// cue without arguments may come as a button's press ("hold 1") and release ("hold 0").
std::optional<Cue> readCue(const std::string& text);

// What a cue that is not one gets on standard error.
std::string ignoredCueLine(const std::string& text);

// Opens what the command line asks to take cues from, before any window: 0 when done,
// otherwise the status to end with, its line written.
int listenForCues(const CommandLine& options);
