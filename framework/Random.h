#pragma once

#include <functional>
#include <utility>

namespace fw {

// The source behind Rnd(). Tests install a scripted source; an empty function restores the
// platform's own generator, which is seeded by the system.
class Random {
public:
    using Source = std::function<double()>;
    static void setSource(Source source) { s_source = std::move(source); }

private:
    friend double Rnd();
    static inline Source s_source;
};

// A uniformly distributed real r with 0 <= r < 1.
double Rnd();

}
