#include "Random.h"
#include "Types.h"

#include <QRandomGenerator>

namespace fw {

namespace {
Random::Source& installedSource()
{
    static Random::Source source;
    return source;
}
}

void Random::setSource(Source source)
{
    installedSource() = std::move(source);
}

double Rnd()
{
    if (auto& source = installedSource())
        return source();
    return QRandomGenerator::global()->generateDouble();
}

}
