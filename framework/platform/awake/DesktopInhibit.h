#pragma once

#include "KeepAwakeChannel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <initializer_list>
#include <memory>

class QDBusMessage;
class QWindow;

namespace fw::platform {

// Asks a desktop service on the session bus not to blank the screen while the object lives:
// the freedesktop ScreenSaver service (KDE, Xfce and others) or the desktop portal's Inhibit
// (GNOME, sandboxed installs). The request goes out without waiting for the answer; a missing
// bus or service is skipped, and asked as soon as a service takes the name. A service that
// restarts forgets what it granted: it is asked again. What a service granted is given back
// to that very service, once.
class DesktopInhibit : public QObject {
public:
    enum Service { ScreenSaver, Portal };

    DesktopInhibit(Service service, QWindow* window, const std::string& reason, QObject* parent = nullptr);
    // Gives back what was granted (see giveBack).
    ~DesktopInhibit() override;

    // Ends these holds: what was granted is given back, waiting within about 350 ms for
    // answers still to come and for the give-backs' answers, all at once; a grant that comes
    // later still is given back when it comes.
    static void giveBack(std::initializer_list<DesktopInhibit*> inhibits);

private:
    struct Request;

    void ask();
    // Takes its own share of the request: judging may drop the hold's.
    void judge(std::shared_ptr<Request> request);
    void ownerChanged(const QString& oldOwner, const QString& newOwner);
    static QDBusMessage giveBackMessage(Service service, const QString& name, const Request& request);

    const Service m_service;
    const QString m_name;
    QPointer<QWindow> m_window;
    const QString m_reason;
    KeepAwakeChannel m_channel;
    bool m_holding = true;
    std::shared_ptr<Request> m_current; // asked, or granted, for this hold
    // The name's owner as the watcher last told it, and how many times it has told.
    QString m_owner;
    unsigned m_ownerChanges = 0;
};

}
