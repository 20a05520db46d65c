#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace fw {

// The source behind Rnd(): the system's generator, seeded by the system, unless a seed fixes
// the sequence. Tests install a scripted source over either; an empty function removes it.
class Random {
public:
    using Source = std::function<double()>;
    static void setSource(Source source);
    // With a seed, Rnd() returns the same sequence on every machine and in every run (a
    // Mersenne Twister, as the C++ standard defines it); without one, the system's values.
    static void setSeed(std::optional<std::uint32_t> seed);
    // The sequence from its beginning: a seeded one as right after setSeed; the system's
    // generator simply goes on, which is a fresh random sequence.
    static void startOver();
};

// A uniformly distributed real r with 0 <= r < 1.
double Rnd();

}
