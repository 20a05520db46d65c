// A stand-in for the desktop's screen saver service on a private session bus: answers
// Inhibit and UnInhibit and prints each call, so a test can read what the program asked.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <cstdio>

class ScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public slots:
    uint Inhibit(const QString& application, const QString& reason)
    {
        std::printf("Inhibit %s: %s -> %u\n", qPrintable(application), qPrintable(reason), m_next);
        std::fflush(stdout);
        return m_next++;
    }
    void UnInhibit(uint cookie)
    {
        std::printf("UnInhibit %u\n", cookie);
        std::fflush(stdout);
    }

private:
    uint m_next = 42;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ScreenSaver saver;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/org/freedesktop/ScreenSaver", &saver, QDBusConnection::ExportAllSlots)
        || !bus.registerService("org.freedesktop.ScreenSaver")) {
        std::fprintf(stderr, "cannot register on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_screensaver.moc"
