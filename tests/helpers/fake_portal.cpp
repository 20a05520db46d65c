// A stand-in for the desktop portal's Inhibit on a private session bus: answers Inhibit with
// a request object and prints each call, the request's Close, and the caller leaving the bus
// with its request still open, so a test can read what the program asked; "caller gone" once a
// caller has left the bus, which the bus tells after routing all it sent. With --answer-after
// MS[,MS...], each Inhibit is answered that long after it came (the first call after the first
// time, and so on; the last time stays), its request object there at once.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
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

class Request : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public:
    explicit Request(QString path)
        : m_path(std::move(path))
    {
    }
    void end(const char* how)
    {
        say(QStringLiteral("%1 %2").arg(how, m_path));
        QDBusConnection::sessionBus().unregisterObject(m_path);
        deleteLater();
    }

public slots:
    void Close() { end("Close"); }

private:
    QString m_path;
};

class InhibitPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")

public:
    explicit InhibitPortal(QList<int> answerAfterMs)
        : m_answerAfterMs(std::move(answerAfterMs))
    {
    }

public slots:
    QDBusObjectPath Inhibit(const QString& window, uint flags, const QVariantMap& options)
    {
        m_callers.insert(message().service());
        QString sender = message().service();
        sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, options.value("handle_token").toString());
        auto* request = new Request(path);
        QDBusConnection::sessionBus().registerObject(path, request, QDBusConnection::ExportAllSlots);
        auto* watcher = new QDBusServiceWatcher(message().service(), QDBusConnection::sessionBus(),
            QDBusServiceWatcher::WatchForUnregistration, request);
        connect(watcher, &QDBusServiceWatcher::serviceUnregistered, request, [request] { request->end("Gone"); });
        say(QStringLiteral("PortalInhibit window=%1 flags=%2 reason=%3 -> %4")
                .arg(window).arg(flags).arg(options.value("reason").toString(), path));
        const int delay = m_answerAfterMs.size() > 1 ? m_answerAfterMs.takeFirst() : m_answerAfterMs.value(0);
        if (delay > 0) {
            setDelayedReply(true);
            const QDBusMessage answer = message().createReply(QVariant::fromValue(QDBusObjectPath(path)));
            QTimer::singleShot(delay, this, [answer] { QDBusConnection::sessionBus().send(answer); });
        }
        return QDBusObjectPath(path);
    }

private slots:
    void ownerChanged(const QString& name, const QString&, const QString& owner)
    {
        if (owner.isEmpty() && m_callers.remove(name))
            say("caller gone");
    }

private:
    QSet<QString> m_callers;
    QList<int> m_answerAfterMs;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QList<int> answerAfterMs;
    if (argc == 3 && std::strcmp(argv[1], "--answer-after") == 0) {
        for (const QString& ms : QString::fromLatin1(argv[2]).split(QLatin1Char(',')))
            answerAfterMs << ms.toInt();
    }
    InhibitPortal inhibit(answerAfterMs);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/portal/desktop", &inhibit, QDBusConnection::ExportAllSlots)
        || !bus.registerService("org.freedesktop.portal.Desktop")
        || !bus.connect("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                        &inhibit, SLOT(ownerChanged(QString, QString, QString)))) {
        std::fprintf(stderr, "cannot register on the session bus\n");
        return 1;
    }
    say("ready");
    return app.exec();
}

#include "fake_portal.moc"
