#pragma once

#include <QSocketNotifier>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace fw {

// The cues that wait for the main thread, from every link and any thread. However fast they
// come, the queue stays short (the newest are kept; how many were dropped is told in one line
// once the queue is empty again, or every ten seconds of a flood that does not stop) and the
// event loop hands over a few at each turn, so that a flood never keeps a key press waiting.
class CueQueue {
public:
    // The longest cue, in bytes: a longer one is cut there and marked "...", which no cue
    // then matches.
    static constexpr std::size_t LongestCue = 64;
    static constexpr std::size_t Capacity = 64;
    static constexpr int DeliveredPerTurn = 16;

    CueQueue();
    ~CueQueue();

    // Any thread; cut to LongestCue. `then` runs once the cue has been delivered.
    void push(std::string_view cue, std::function<void()> then = {});
    // On the main thread once the toolkit has started: cues are delivered from then on,
    // until stop, which forgets the cues waiting.
    void start();
    void stop();

private:
    void deliverSome();

    std::mutex m_mutex;
    struct Waiting {
        std::string cue;
        std::function<void()> then;
    };
    std::deque<Waiting> m_cues;
    std::size_t m_dropped = 0;
    std::chrono::steady_clock::time_point m_droppedTold;
    int m_wake; // an eventfd, readable while cues wait
    bool m_signalled = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}
