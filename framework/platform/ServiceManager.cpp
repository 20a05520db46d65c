// The service manager that started the program: systemd, with a unit of Type=notify (told once
// the first frame is on the screen) and WatchdogSec= (told, from the window's thread, that the
// program is alive). Outside such a unit nothing is sent.
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <utility>
#include <systemd/sd-daemon.h>

namespace fw::platform {

int aliveIntervalMilliseconds()
{
    // Told twice within the watchdog's time: once late is not yet too late.
    static const int interval = [] {
        std::uint64_t microseconds = 0;
        if (sd_watchdog_enabled(0, &microseconds) <= 0)
            return 0;
        return static_cast<int>(std::clamp<std::uint64_t>(microseconds / 2000, 1, 3'600'000));
    }();
    return interval;
}

void tellAlive()
{
    if (aliveIntervalMilliseconds() > 0)
        sd_notify(0, "WATCHDOG=1");
}

void tellAliveWhileTheLoopTurns()
{
    const int interval = aliveIntervalMilliseconds();
    if (interval <= 0)
        return;
    tellAlive();
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, timer, &tellAlive);
    timer->start(interval);
}

void tellReady()
{
    static bool told = false;
    if (!std::exchange(told, true))
        sd_notify(0, "READY=1");
}

}
