// Looks at and types into a GNOME session for a test, through the shell's and mutter's own
// services on the session bus:
//   gnome_probe screenshot FILE   the whole screen as a binary PPM (the shell lets only its
//                                 known screenshot tools ask: the probe takes that tool's name)
//   gnome_probe key KEYSYM        a key pressed and released, as a remote desktop sends it
// Ends with 0 when done, 1 with a line on standard error when not.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QFile>
#include <QImage>
#include <QThread>
#include <cstdio>
#include <cstring>

namespace {

int fail(const QString& why)
{
    std::fprintf(stderr, "gnome_probe: %s\n", qPrintable(why));
    return 1;
}

QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
    const QVariantList& arguments = {})
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
}

int screenshot(const QString& file)
{
    if (!QDBusConnection::sessionBus().registerService("org.gnome.Screenshot"))
        return fail("cannot take the screenshot tool's name");
    const QString png = file + ".png";
    const QDBusMessage answer = call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
        "org.gnome.Shell.Screenshot", "Screenshot", { false, false, png });
    if (answer.type() == QDBusMessage::ErrorMessage || !answer.arguments().value(0).toBool())
        return fail("no screenshot: " + answer.errorMessage());
    const QImage image(png);
    QFile::remove(png);
    if (image.isNull() || !image.convertToFormat(QImage::Format_RGB888).save(file, "PPM"))
        return fail("the screenshot could not be read or written");
    return 0;
}

constexpr uint ShiftKeysym = 0xffe1;

int key(uint keysym)
{
    const QString mutter = "org.gnome.Mutter.RemoteDesktop";
    const QDBusReply<QDBusObjectPath> session = call(mutter, "/org/gnome/Mutter/RemoteDesktop", mutter, "CreateSession");
    if (!session.isValid())
        return fail("no remote desktop session: " + session.error().message());
    const QString path = session.value().path();
    const QString interface = mutter + ".Session";
    QDBusMessage answer = call(mutter, path, interface, "Start");
    // The session's keyboard comes with its first key: a Shift, alone. Clients are then told
    // of the new keyboard, and the focused one is given it, before the key that counts.
    const struct {
        uint keysym;
        bool pressed;
        int pauseMs;
    } steps[] = { { ShiftKeysym, true, 50 }, { ShiftKeysym, false, 1000 }, { keysym, true, 100 }, { keysym, false, 500 } };
    for (const auto& step : steps) {
        if (answer.type() == QDBusMessage::ErrorMessage)
            break;
        answer = call(mutter, path, interface, "NotifyKeyboardKeysym", { step.keysym, step.pressed });
        QThread::msleep(step.pauseMs);
    }
    const QString problem = answer.type() == QDBusMessage::ErrorMessage ? answer.errorMessage() : QString();
    call(mutter, path, interface, "Stop");
    return problem.isEmpty() ? 0 : fail("the key was not sent: " + problem);
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "screenshot") == 0)
        return screenshot(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "key") == 0)
        return key(QString::fromLatin1(argv[2]).toUInt(nullptr, 0));
    return fail("usage: gnome_probe screenshot FILE | key KEYSYM");
}
