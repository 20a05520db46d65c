#pragma once

#include <QString>
#include <QTimer>
#include <functional>

namespace fw::platform {

// One way of keeping the display awake (the X server's screen saver, the compositor's idle
// inhibitor, a desktop service), followed for as long as the display is to be kept awake.
// One that could not be had, or that was lost, is tried again after a growing pause, and its
// story goes to standard error: one line when it cannot be had or is lost, one when it holds
// again; nothing while all goes well, and nothing for a channel the system does not offer.
class KeepAwakeChannel {
public:
    // `name` as it reads in a sentence: "the X server".
    KeepAwakeChannel(QString name, std::function<void()> tryAgain);

    // What a try came to, or what happened since.
    void held();
    void absent();
    void failed(const QString& why);
    void lost(const QString& why);
    // The display may sleep again: no more tries, and the story starts anew next time.
    void stop();
    // A try is due later: nothing else asks before it.
    bool waiting() const { return m_retry.isActive(); }

    static constexpr int FirstPauseMs = 1000;
    static constexpr int LongestPauseMs = 60000;

private:
    void say(const QString& line);

    const QString m_name;
    QTimer m_retry;
    int m_pauseMs = FirstPauseMs;
    bool m_missing = false; // a line has said it does not hold
};

}
