#include "KeepAwakeChannel.h"

#include "platform/Platform.h"

#include <cstdio>

namespace fw::platform {

KeepAwakeChannel::KeepAwakeChannel(QString name, std::function<void()> tryAgain)
    : m_name(std::move(name))
{
    m_retry.setSingleShot(true);
    QObject::connect(&m_retry, &QTimer::timeout, std::move(tryAgain));
}

void KeepAwakeChannel::held()
{
    m_retry.stop();
    m_pauseMs = FirstPauseMs;
    if (m_missing)
        say(QStringLiteral("the display is kept awake through %1 again").arg(m_name));
    m_missing = false;
}

void KeepAwakeChannel::absent()
{
    m_retry.stop();
}

void KeepAwakeChannel::failed(const QString& why)
{
    if (!m_missing)
        say(QStringLiteral("the display may blank: %1 %2; trying again").arg(m_name, why));
    m_missing = true;
    m_retry.start(m_pauseMs);
    m_pauseMs = std::min(2 * m_pauseMs, LongestPauseMs);
}

void KeepAwakeChannel::lost(const QString& why)
{
    if (!m_missing)
        say(QStringLiteral("the display may blank: %1 %2").arg(m_name, why));
    m_missing = true;
    m_retry.stop();
    m_pauseMs = FirstPauseMs;
}

void KeepAwakeChannel::stop()
{
    m_retry.stop();
    m_pauseMs = FirstPauseMs;
    m_missing = false;
}

void KeepAwakeChannel::say(const QString& line)
{
    std::fprintf(stderr, "%s: %s\n", programName(), qPrintable(line));
    std::fflush(stderr);
}

}
