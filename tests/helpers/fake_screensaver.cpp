// A stand-in for the desktop's screen saver service on a private session bus: answers
// Inhibit and UnInhibit and prints each call, so a test can read what the program asked.
// With --answer-after MS[,MS...], each Inhibit is answered that long after it came (the
// first call after the first time, and so on; the last time stays), as a busy desktop may.
// With --first-cookie N its cookies count from N (42 otherwise): a restarted service's differ.
// With --leave MS it gives the name up MS ms after the first Inhibit came, and stays on the bus
// to answer and to take the cookie back, as a service handing over to another does.
// "caller gone" says a caller left the bus: the bus tells that after routing all it sent.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {
void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}
}

class ScreenSaver : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    ScreenSaver(QList<int> answerAfterMs, uint firstCookie, int leaveAfterMs)
        : m_answerAfterMs(std::move(answerAfterMs))
        , m_next(firstCookie)
        , m_leaveAfterMs(leaveAfterMs)
    {
    }

public slots:
    uint Inhibit(const QString& application, const QString& reason)
    {
        m_callers.insert(message().service());
        const uint cookie = m_next++;
        say(QStringLiteral("Inhibit %1: %2 -> %3").arg(application, reason).arg(cookie));
        if (m_leaveAfterMs >= 0) {
            QTimer::singleShot(m_leaveAfterMs, [] {
                QDBusConnection::sessionBus().unregisterService("org.freedesktop.ScreenSaver");
                say(QStringLiteral("left"));
            });
            m_leaveAfterMs = -1;
        }
        const int delay = m_answerAfterMs.size() > 1 ? m_answerAfterMs.takeFirst() : m_answerAfterMs.value(0);
        if (delay > 0) {
            setDelayedReply(true);
            const QDBusMessage answer = message().createReply(cookie);
            QTimer::singleShot(delay, this, [answer, cookie] {
                QDBusConnection::sessionBus().send(answer);
                say(QStringLiteral("answered %1").arg(cookie));
            });
        }
        return cookie;
    }
    void UnInhibit(uint cookie)
    {
        m_callers.insert(message().service());
        say(QStringLiteral("UnInhibit %1").arg(cookie));
    }

private slots:
    void ownerChanged(const QString& name, const QString&, const QString& owner)
    {
        if (owner.isEmpty() && m_callers.remove(name))
            say(QStringLiteral("caller gone"));
    }

private:
    QSet<QString> m_callers;
    QList<int> m_answerAfterMs;
    uint m_next;
    int m_leaveAfterMs;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QList<int> answerAfterMs;
    uint firstCookie = 42;
    int leaveAfterMs = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--answer-after") == 0) {
            for (const QString& ms : QString::fromLatin1(argv[i + 1]).split(QLatin1Char(',')))
                answerAfterMs << ms.toInt();
        } else if (std::strcmp(argv[i], "--first-cookie") == 0) {
            firstCookie = QString::fromLatin1(argv[i + 1]).toUInt();
        } else if (std::strcmp(argv[i], "--leave") == 0) {
            leaveAfterMs = QString::fromLatin1(argv[i + 1]).toInt();
        }
    }
    ScreenSaver saver(answerAfterMs, firstCookie, leaveAfterMs);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/ScreenSaver", &saver, QDBusConnection::ExportAllSlots)
        || !bus.registerService("org.freedesktop.ScreenSaver")
        || !bus.connect("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                        &saver, SLOT(ownerChanged(QString, QString, QString)))) {
        std::fprintf(stderr, "cannot register on the session bus\n");
        return 1;
    }
    say(QStringLiteral("ready"));
    return app.exec();
}

#include "fake_screensaver.moc"
