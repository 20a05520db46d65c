#include "Wait.h"

#include <QThread>

namespace fw::platform {

bool waitWithin(const QDeadlineTimer& deadline, const std::function<bool()>& done,
    const std::function<void(int msLeft)>& pause)
{
    while (!done()) {
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        if (pause)
            pause(static_cast<int>(left < 0 ? 1000 : left));
        else
            QThread::msleep(1);
    }
    return true;
}

}
