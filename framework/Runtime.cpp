#include "Runtime.h"
#include "MessageBox.h"
#include "Resources.h"
#include "Window.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fw {

namespace {

struct State {
    std::unique_ptr<QApplication> ownApplication;
    std::unique_ptr<Application> application;
    std::vector<std::function<void()>> cleanups;
    bool quit = false;
    int status = 0;
    bool inEventLoop = false;
    // A failure nobody handled: no application handler runs after it, and its message is
    // shown once, after the code that failed has unwound.
    bool failed = false;
    bool failureShown = false;
    std::string failureText;
    // Ended by a termination signal: nothing waits for the user any more.
    bool terminated = false;
};

// Never destroyed by the C++ runtime: when the toolkit itself calls exit() (the display went
// away), tearing the application down from a static destructor would crash. shutDown()
// releases everything on every normal path.
State& state()
{
    static State* s = new State;
    return *s;
}

// QApplication keeps the argc it is given by reference: it must outlive the application.
int s_argc = 1;
char* s_argv[] = { nullptr, nullptr };

// SIGTERM and SIGINT end the run through the quit path, with status 128 + the signal. The
// handler only writes the signal's number to a pipe; the event loop reads it.
int s_signalPipe[2] = { -1, -1 };

void onSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(s_signalPipe[1], &number, 1);
    errno = savedErrno;
}

// A termination signal ends whatever runs: the main loop or a message box over it, and any
// box still to come returns at once. A failure that came first keeps its status.
void endBySignal(int signal)
{
    State& s = state();
    if (!s.quit) {
        s.quit = true;
        s.status = 128 + signal;
    }
    s.terminated = true;
    QApplication::exit(s.status);
}

void watchTerminationSignals()
{
    if (::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A launcher may start the program with these blocked; they would then never arrive.
    sigset_t termination;
    sigemptyset(&termination);
    sigaddset(&termination, SIGTERM);
    sigaddset(&termination, SIGINT);
    ::sigprocmask(SIG_UNBLOCK, &termination, nullptr);
}

void readTerminationSignals()
{
    if (s_signalPipe[0] < 0)
        return;
    auto* notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        unsigned char number = 0;
        while (::read(s_signalPipe[0], &number, 1) == 1)
            endBySignal(number);
    });
}

void stopWatchingSignals()
{
    if (s_signalPipe[0] < 0)
        return;
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    ::close(s_signalPipe[0]);
    ::close(s_signalPipe[1]);
    s_signalPipe[0] = s_signalPipe[1] = -1;
}

// Shows the message of a failure once, unless a termination signal came first (standard
// error has it); then the run ends. Called where nothing that failed is on the stack any
// more: from the main loop, or from start-up or shut-down.
void showFailure()
{
    State& s = state();
    if (!s.failed || s.failureShown || s.terminated)
        return;
    s.failureShown = true;
    try {
        MsgBox("Velquarin Control Board has met a problem it cannot recover from and will close.\n\n" + s.failureText);
    } catch (...) {
    }
    if (s.inEventLoop)
        QApplication::exit(s.status);
}

}

// The toolkit ends the process with abort() when it cannot start at all (no display to
// connect to): say so plainly and end with a failure status instead of a core dump.
static QtMessageHandler s_defaultMessageHandler = nullptr;

static void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "velquarin-control-board: cannot go on: %s\n", qPrintable(message));
        std::fflush(stderr);
        std::_Exit(CannotStartStatus);
    }
    if (s_defaultMessageHandler)
        s_defaultMessageHandler(type, context, message);
}

void Runtime::bringUp(int argc, char** argv)
{
    if (QApplication::instance())
        return;
    s_defaultMessageHandler = qInstallMessageHandler(messageHandler);
    // The program takes no command line; only the program name goes to the toolkit.
    static std::string programName = argc > 0 && argv[0] ? argv[0] : "velquarin-control-board";
    s_argv[0] = programName.data();
    s_argc = 1;
    // Signals are caught from the start; the event loop reads them once the toolkit is up.
    watchTerminationSignals();
    state().ownApplication = std::make_unique<QApplication>(s_argc, s_argv);
    // Windows come and go under the program's control; the last one closing is no reason
    // to end (a failure ends the run through its own path).
    QApplication::setQuitOnLastWindowClosed(false);
    readTerminationSignals();
}

int Runtime::shutDown()
{
    State& s = state();
    showFailure();
    Window::destroyAll();
    s.application.reset();
    for (auto it = s.cleanups.rbegin(); it != s.cleanups.rend(); ++it)
        (*it)();
    s.cleanups.clear();
    s.ownApplication.reset();
    stopWatchingSignals();
    return s.status;
}

void Runtime::registerClassesAndPlugins()
{
    // The layer's classes need no registration, and the toolkit finds its plug-ins (platform,
    // image formats) itself, when first needed: loading them here would only delay the first
    // window.
}

void Runtime::describeApplication(const std::string& name, const std::string& desktopId)
{
    QApplication::setApplicationName(QString::fromStdString(name));
    // Taskbars and switchers match windows to the desktop entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromStdString(desktopId));
    // The icon ships in the resource folder too: read from there it needs no theme lookup. It
    // is set once the event loop runs, so that reading it (and the toolkit's image plug-ins)
    // does not delay the first window.
    const QString iconFile = QString::fromStdString((Resources::folder() / (desktopId + ".png")).string());
    QTimer::singleShot(0, qApp, [iconFile] { QApplication::setWindowIcon(QIcon(iconFile)); });
}

void Runtime::registerApplication(std::unique_ptr<Application> application)
{
    if (!application)
        throw NilObjectException("There is no application object to register.");
    state().application = std::move(application);
}

Application* Runtime::application()
{
    return state().application.get();
}

void Runtime::completeInitialisation(void (*lateStartup)())
{
    if (Application* app = application())
        dispatch([app] { app->Event_Open(); });
    if (hasQuit())
        return;
    if (lateStartup)
        dispatch(lateStartup);
}

void Runtime::runEventLoop()
{
    State& s = state();
    if (s.quit) {
        showFailure(); // one from start-up, the loop never having run
        return;
    }
    s.inEventLoop = true;
    const int status = QApplication::exec();
    s.inEventLoop = false;
    if (!s.quit) {
        s.quit = true;
        s.status = status;
    }
}

void Runtime::quit(int status)
{
    State& s = state();
    // The first request decides the status: a failure already being reported is not
    // turned into success by a later quit.
    if (s.quit)
        return;
    s.quit = true;
    s.status = status;
    if (s.inEventLoop)
        QApplication::exit(status);
}

bool Runtime::hasQuit()
{
    return state().quit;
}

int Runtime::exitStatus()
{
    return state().status;
}

void Runtime::dispatch(const std::function<void()>& handler) noexcept
{
    if (state().failed)
        return;
    try {
        handler();
    } catch (const RuntimeException& failure) {
        handleUnhandledFailure(failure);
    } catch (const std::exception& failure) {
        handleUnhandledFailure(RuntimeException(failure.what()));
    } catch (...) {
        handleUnhandledFailure(RuntimeException("An unknown failure occurred."));
    }
}

void Runtime::handleUnhandledFailure(const RuntimeException& failure) noexcept
{
    State& s = state();
    const std::string text = std::string(failure.className()) + ": " + failure.what();
    std::fprintf(stderr, "velquarin-control-board: %s\n", text.c_str());
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
        // A full-screen board that stays on top would hide the message: every window goes
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

void Runtime::atShutDown(std::function<void()> cleanup)
{
    state().cleanups.push_back(std::move(cleanup));
}

void Runtime::resetForTesting()
{
    Window::destroyAll();
    State& s = state();
    s.application.reset();
    s.quit = false;
    s.status = 0;
    s.inEventLoop = false;
    s.failed = false;
    s.failureShown = false;
    s.failureText.clear();
    s.terminated = false;
}

}
