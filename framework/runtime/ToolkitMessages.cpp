// The toolkit ends the process with abort() on a fatal message: say so plainly and end with
// CannotStartStatus while it starts (it could not start at all), UnhandledFailureStatus once it
// runs, instead of a core dump. While it starts, its warnings (and libwayland's) are held
// back: if it cannot reach a display they would only restate, before it, the one line that
// matters; otherwise they follow. The toolkit calls the handler from any of its threads (X,
// Wayland, D-Bus).
#include "ToolkitMessages.h"
#include "ExitStatus.h"
#include "platform/Platform.h"

#include <QString>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace fw {

namespace {

struct HeldMessage {
    QtMsgType type;
    QString category;
    QString text;
};

// In file scope: the toolkit's message handler is its own global hook, called from any of its
// threads, from before the runtime is up until the process ends.
QtMessageHandler s_defaultHandler = nullptr; // set before the toolkit has threads
std::atomic<bool> s_startingUp = false;
std::mutex s_heldLock;
std::vector<HeldMessage> s_held;
// Where the toolkit starts: a console needs no display; elsewhere, what to do without one.
bool s_onConsole = false;
std::string s_noDisplayAdvice;

// No display, as opposed to a toolkit that is broken in itself: nothing names one, or the
// platform said it could not reach it.
bool noDisplay()
{
    if (s_onConsole)
        return false;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    const std::lock_guard lock(s_heldLock);
    for (const HeldMessage& held : s_held) {
        if (held.text.contains(QLatin1String("connect to display")) || held.text.contains(QLatin1String("wl_display")))
            return true;
    }
    return false;
}

void onToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const char* program = platform::programName();
    if (type == QtFatalMsg) {
        if (s_startingUp && noDisplay()) {
            // The toolkit's own lines would only say the same.
            std::fprintf(stderr, "%s: no display to connect to (DISPLAY and WAYLAND_DISPLAY are unset or unreachable); "
                                 "%s\n", program, s_noDisplayAdvice.c_str());
        } else {
            std::fprintf(stderr, "%s: cannot go on: %s\n", program, qPrintable(message.section(QLatin1Char('\n'), 0, 0)));
            const std::lock_guard lock(s_heldLock);
            for (const HeldMessage& held : s_held) // what led to it, such as a library missing
                std::fprintf(stderr, "  %s\n", qPrintable(held.text));
        }
        std::fflush(stderr);
        platform::giveConsoleBack();
        std::_Exit(s_startingUp ? CannotStartStatus : UnhandledFailureStatus);
    }
    // The toolkit's note that no runtime folder is named and one of its own under /tmp is used:
    // so it is for every start outside a login session (a system service, a kiosk script),
    // and nothing is wrong.
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    if (s_startingUp) {
        const std::lock_guard lock(s_heldLock);
        // Checked again under the lock: the start may have ended meanwhile, its list sent.
        if (s_startingUp) {
            s_held.push_back({ type, category, message });
            return;
        }
    }
    if (s_defaultHandler)
        s_defaultHandler(type, context, message);
}

}

void watchToolkitMessages(bool onConsole, const std::string& noDisplayAdvice)
{
    s_onConsole = onConsole;
    s_noDisplayAdvice = noDisplayAdvice;
    s_defaultHandler = qInstallMessageHandler(onToolkitMessage);
    s_startingUp = true;
}

void toolkitStarted()
{
    std::vector<HeldMessage> messages;
    {
        const std::lock_guard lock(s_heldLock);
        s_startingUp = false;
        messages.swap(s_held);
    }
    for (const HeldMessage& held : messages) {
        const QByteArray category = held.category.toLatin1();
        const QMessageLogContext context(nullptr, 0, nullptr, category.constData());
        if (s_defaultHandler)
            s_defaultHandler(held.type, context, held.text);
    }
}

}
