#pragma once

#include <QDeadlineTimer>
#include <functional>

namespace fw::platform {

// A short wait for something another party does (a server's answer, a helper thread's), that
// never outlasts its deadline: asks `done` until it says so or the deadline passes, and tells
// which. Between asks, `pause` waits at most the milliseconds it is given; a millisecond's
// sleep unless another is given.
bool waitWithin(const QDeadlineTimer& deadline, const std::function<bool()>& done,
    const std::function<void(int msLeft)>& pause = {});

}
