// Failures that no handler caught: reported at once on standard error; the windows leave the
// screen; the message box follows once the failing code has unwound.
#include "MessageBox.h"
#include "Runtime.h"
#include "RuntimeState.h"
#include "Window.h"

#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace fw {

void showFailure()
{
    RuntimeState& s = runtimeState();
    // After a termination signal standard error has it; nobody waits at the screen.
    if (!s.failed || s.failureShown || s.terminated)
        return;
    s.failureShown = true;
    try {
        MsgBox(s.applicationName + " has met a problem it cannot recover from and will close.\n\n" + s.failureText);
    } catch (...) {
    }
    if (s.inEventLoop)
        QApplication::exit(s.status);
}

void Runtime::handleUnhandledFailure(const RuntimeException& failure) noexcept
{
    RuntimeState& s = runtimeState();
    const std::string text = std::string(failure.className()) + ": " + failure.what();
    const std::string program = s.programName.empty() ? QApplication::applicationName().toStdString() : s.programName;
    std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
    std::fflush(stderr);
    if (s.failed)
        return;
    s.failed = true;
    // A failure outranks any status asked for before it: the run never ends as a success.
    // Once the user has quit, it is only reported here.
    s.failureShown = s.quit;
    s.quit = true;
    s.status = UnhandledFailureStatus;
    s.failureText = text;
    try {
        // A full-screen window that stays on top would hide the message: every window goes
        // from the screen now, with its hidden pointer, and is deleted once the code that
        // failed has unwound.
        for (Window* window : Window::openWindows()) {
            window->widget()->unsetCursor();
            window->Close();
        }
    } catch (...) {
    }
    if (s.inEventLoop)
        QTimer::singleShot(0, qApp, showFailure);
}

}
