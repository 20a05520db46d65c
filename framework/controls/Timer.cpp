#include "Timer.h"
#include "runtime/Runtime.h"

#include <QTimer>
#include <limits>

namespace fw {

Timer::Timer(ControlHost& owner)
    : Control(owner)
    , m_timer(std::make_unique<QTimer>())
{
    // On the beat, not up to 5% either side as the toolkit's default allows: boards started
    // or cued together change together.
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { fire(); });
}

Timer::~Timer() = default;

void Timer::setMode(TimerMode mode)
{
    m_mode = mode;
    restart();
}

void Timer::setPeriod(Integer milliseconds)
{
    m_period = std::clamp<Integer>(milliseconds, 1, std::numeric_limits<int>::max());
    restart();
}

void Timer::restart()
{
    m_timer->stop();
    if (m_mode == TimerMode::Off)
        return;
    m_timer->setSingleShot(m_mode == TimerMode::Single);
    m_timer->start(static_cast<int>(m_period));
}

void Timer::fire()
{
    if (m_mode == TimerMode::Single)
        m_mode = TimerMode::Off;
    Runtime::dispatch([this] {
        if (m_action)
            m_action(*this);
    });
}

void Timer::applyDesign(const TimerDesign& design)
{
    // Not through setMode: that would start the timer with the period it had before, and
    // setPeriod would start it a second time.
    m_mode = design.Mode;
    setPeriod(design.Period);
}

}
