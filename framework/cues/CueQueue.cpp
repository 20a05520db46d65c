#include "CueQueue.h"
#include "CueLink.h"
#include "base/StandardError.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace fw {

CueQueue::CueQueue()
    : m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
}

CueQueue::~CueQueue()
{
    m_notifier.reset();
    if (m_wake >= 0)
        ::close(m_wake);
}

void CueQueue::push(std::string_view cue, std::function<void()> then)
{
    std::string text(cue.substr(0, LongestCue));
    if (cue.size() > LongestCue)
        text += "...";
    const std::lock_guard lock(m_mutex);
    if (m_cues.size() == Capacity) {
        m_cues.pop_front();
        ++m_dropped;
    }
    m_cues.push_back({ std::move(text), std::move(then) });
    if (!m_signalled) {
        const std::uint64_t one = 1;
        m_signalled = ::write(m_wake, &one, sizeof one) == sizeof one;
    }
}

void CueQueue::start()
{
    if (m_wake < 0 || m_notifier)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_wake, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { deliverSome(); });
}

void CueQueue::stop()
{
    m_notifier.reset();
    const std::lock_guard lock(m_mutex);
    m_cues.clear();
    m_dropped = 0;
    std::uint64_t count;
    [[maybe_unused]] const ssize_t read = ::read(m_wake, &count, sizeof count);
    m_signalled = false;
}

void CueQueue::deliverSome()
{
    std::deque<Waiting> now;
    std::size_t dropped = 0;
    {
        const std::lock_guard lock(m_mutex);
        for (int i = 0; i < DeliveredPerTurn && !m_cues.empty(); ++i) {
            now.push_back(std::move(m_cues.front()));
            m_cues.pop_front();
        }
        // Readable for as long as cues wait: the loop comes back after its other work.
        if (m_cues.empty()) {
            std::uint64_t count;
            if (::read(m_wake, &count, sizeof count) == sizeof count)
                m_signalled = false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (m_dropped > 0 && (m_cues.empty() || now - m_droppedTold >= std::chrono::seconds(10))) {
            dropped = std::exchange(m_dropped, 0);
            m_droppedTold = now;
        }
    }
    if (dropped > 0)
        sayLine("dropped " + std::to_string(dropped) + (dropped == 1 ? " cue" : " cues")
            + " that came faster than the board takes them; the newest were kept");
    for (const Waiting& waiting : now) {
        if (!waiting.cue.empty())
            deliverCue(waiting.cue);
        if (waiting.then)
            waiting.then();
    }
}

}
