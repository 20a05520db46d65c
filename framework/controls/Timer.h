#pragma once

#include "Control.h"

#include <functional>
#include <memory>

class QTimer;

namespace fw {

// A timer whose Action event comes on the GUI thread after every Period milliseconds
// (Mode Multiple), once (Single), or not at all (Off).
class Timer : public Control {
public:
    using ActionHandler = std::function<void(Timer&)>;

    explicit Timer(ControlHost& owner);
    ~Timer() override;

    TimerMode Mode() const { return m_mode; }
    void setMode(TimerMode mode);
    Integer Period() const { return m_period; }
    void setPeriod(Integer milliseconds);
    // The period starts anew from now: the next Action comes a whole Period later.
    void Reset() { restart(); }

    void applyDesign(const TimerDesign& design);
    void setActionHandler(ActionHandler handler) { m_action = std::move(handler); }

private:
    void restart();
    void fire();

    std::unique_ptr<QTimer> m_timer;
    ActionHandler m_action;
    TimerMode m_mode = TimerMode::Off;
    Integer m_period = 1000;
};

}
