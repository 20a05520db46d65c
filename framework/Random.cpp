#include "framework/Random.h"
#include "framework/Types.h"

#include <QRandomGenerator>
#include <algorithm>
#include <limits>
#include <random>

namespace fw {

namespace {

struct Seeded {
    std::uint32_t seed;
    std::mt19937 engine;
};
std::optional<Seeded> s_seeded;

// 53 random bits from two draws, spread evenly over [0, 1): the same double on every
// machine for the same two draws.
double nextDouble(std::mt19937& engine)
{
    const std::uint32_t high = engine() >> 5;
    const std::uint32_t low = engine() >> 6;
    return (high * 67108864.0 + low) / 9007199254740992.0;
}

}

void Random::setSeed(std::optional<std::uint32_t> seed)
{
    s_seeded.reset();
    if (seed)
        s_seeded = Seeded { *seed, std::mt19937(*seed) };
}

void Random::startOver()
{
    if (s_seeded)
        s_seeded->engine.seed(s_seeded->seed);
}

double Rnd()
{
    if (Random::s_source) {
        // Whatever a replacement source returns, callers get a value in [0, 1).
        const double r = Random::s_source();
        constexpr double largestBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2;
        return r >= 0.0 ? std::min(r, largestBelowOne) : 0.0;
    }
    if (s_seeded)
        return nextDouble(s_seeded->engine);
    return QRandomGenerator::global()->generateDouble();
}

}
