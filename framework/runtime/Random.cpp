#include "Random.h"

#include <QRandomGenerator>
#include <algorithm>
#include <limits>
#include <random>

namespace fw {

namespace {

// Rnd()'s source: a test's scripted one, or else the sequence of the seed, if one is set, or
// else the system's generator.
struct Draws {
    Random::Source scripted;
    std::optional<std::uint32_t> seed;
    std::mt19937 engine; // the seed's sequence
};

Draws s_draws;

// 53 random bits from two draws, spread evenly over [0, 1): the same double on every
// machine for the same two draws.
double nextDouble(std::mt19937& engine)
{
    const std::uint32_t high = engine() >> 5;
    const std::uint32_t low = engine() >> 6;
    return (high * 67108864.0 + low) / 9007199254740992.0;
}

}

void Random::setSource(Source source)
{
    s_draws.scripted = std::move(source);
}

void Random::setSeed(std::optional<std::uint32_t> seed)
{
    Draws& random = s_draws;
    random.seed = seed;
    random.engine.seed(seed.value_or(std::mt19937::default_seed));
}

void Random::startOver()
{
    Draws& random = s_draws;
    if (random.seed)
        random.engine.seed(*random.seed);
}

double Rnd()
{
    Draws& random = s_draws;
    if (random.scripted) {
        // Whatever a replacement source returns, callers get a value in [0, 1).
        const double r = random.scripted();
        constexpr double largestBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2;
        return r >= 0.0 ? std::min(r, largestBelowOne) : 0.0;
    }
    if (random.seed)
        return nextDouble(random.engine);
    return QRandomGenerator::global()->generateDouble();
}

}
