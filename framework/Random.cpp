#include "framework/Random.h"
#include "framework/Types.h"

#include <QRandomGenerator>
#include <algorithm>
#include <limits>

namespace fw {

double Rnd()
{
    if (Random::s_source) {
        // Whatever a replacement source returns, callers get a value in [0, 1).
        const double r = Random::s_source();
        constexpr double largestBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2;
        return r >= 0.0 ? std::min(r, largestBelowOne) : 0.0;
    }
    return QRandomGenerator::global()->generateDouble();
}

}
