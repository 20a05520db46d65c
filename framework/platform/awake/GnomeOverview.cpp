#include "GnomeOverview.h"
#include "SessionBus.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QTimer>
#include <QWindow>
#include <utility>

namespace fw::platform {

namespace {

constexpr auto Shell = "org.gnome.Shell";
constexpr auto ShellPath = "/org/gnome/Shell";
constexpr auto Properties = "org.freedesktop.DBus.Properties";
// An overview the session's start opens comes within this long of the window's showing.
constexpr int WatchMs = 10000;

bool inGnome()
{
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    return desktops.contains(QLatin1String("GNOME"));
}

}

// Follows the overview for a few seconds while the window is there, and closes it once.
class OverviewWatch : public QObject {
    Q_OBJECT

public:
    OverviewWatch(QDBusConnection connection, QWindow* window)
        : QObject(window)
        , m_connection(std::move(connection))
    {
        m_connection.connect(Shell, ShellPath, Properties, "PropertiesChanged", this,
            SLOT(changed(QString, QVariantMap, QStringList)));
        QTimer::singleShot(WatchMs, this, &QObject::deleteLater);
        QDBusMessage get = QDBusMessage::createMethodCall(Shell, ShellPath, Properties, "Get");
        get.setArguments({ QString::fromLatin1(Shell), QStringLiteral("OverviewActive") });
        auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(get), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *watcher;
            if (reply.isError())
                deleteLater(); // no GNOME Shell here
            else if (reply.value().variant().toBool())
                close();
        });
    }
    ~OverviewWatch() override
    {
        m_connection.disconnect(Shell, ShellPath, Properties, "PropertiesChanged", this,
            SLOT(changed(QString, QVariantMap, QStringList)));
    }

private slots:
    void changed(const QString& interface, const QVariantMap& values, const QStringList&)
    {
        if (interface == QLatin1String(Shell) && values.value(QStringLiteral("OverviewActive")).toBool())
            close();
    }

private:
    void close()
    {
        if (m_closed)
            return;
        m_closed = true;
        deleteLater();
        QDBusMessage set = QDBusMessage::createMethodCall(Shell, ShellPath, Properties, "Set");
        set.setArguments({ QString::fromLatin1(Shell), QStringLiteral("OverviewActive"),
            QVariant::fromValue(QDBusVariant(false)) });
        // The shell gives the keyboard back to the window in front once the overview is gone.
        m_connection.call(set, QDBus::NoBlock);
    }

    QDBusConnection m_connection;
    bool m_closed = false;
};

void closeSessionStartOverview(QWindow* window)
{
    if (!window || !inGnome())
        return;
    if (auto connection = sessionBus())
        new OverviewWatch(*connection, window); // it ends itself, or with the window
}

}

#include "GnomeOverview.moc"
