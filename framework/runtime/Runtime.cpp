#include "Runtime.h"
#include "RefreshBatch.h"
#include "RuntimeState.h"
#include "MessageBox.h"
#include "Resources.h"
#include "platform/Platform.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <filesystem>

namespace fw {

RuntimeState& runtimeState()
{
    static auto* s = new RuntimeState;
    return *s;
}

const char* programName()
{
    return platform::programName();
}

void sayLine(const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", programName(), line.c_str());
    std::fflush(stderr);
}

void Runtime::bringUp(int argc, char** argv)
{
    if (QApplication::instance())
        return;
    RuntimeState& s = runtimeState();
    watchToolkitMessages();
    // Signals are caught from the start; the event loop reads them once the toolkit is up.
    catchTerminationSignals();
    platform::beforeToolkitStarts(s.onlyFullScreen);
    // Only the program name goes to the toolkit: its own options are not taken.
    ToolkitArguments& arguments = s.toolkitArguments;
    arguments.program = argc > 0 && argv[0] ? argv[0] : "";
    arguments.argv[0] = arguments.program.data();
    arguments.argc = 1;
    s.ownApplication = std::make_unique<QApplication>(arguments.argc, arguments.argv);
    toolkitStarted();
    if (s.console)
        s.console->toolkitStarted();
    // Windows come and go under the program's control; the last one closing is no reason
    // to end (a failure ends the run through its own path).
    QApplication::setQuitOnLastWindowClosed(false);
    readTerminationSignals();
    platform::tellAliveWhileTheLoopTurns();
    startCueLinks();
}

void Runtime::adviseWithoutDisplay(const std::string& advice)
{
    runtimeState().noDisplayAdvice = advice;
}

void Runtime::onlyFullScreen()
{
    runtimeState().onlyFullScreen = true;
}

void Runtime::startsWithTheSession()
{
    runtimeState().startsWithTheSession = true;
}

int Runtime::shutDown()
{
    RuntimeState& s = runtimeState();
    showFailure();
    boundTheLeaving();
    endCueLinks();
    if (s.windows)
        s.windows->destroyAll();
    s.application.reset();
    s.menuBars.reset();
    for (auto it = s.cleanups.rbegin(); it != s.cleanups.rend(); ++it)
        (*it)();
    s.cleanups.clear();
    if (s.console)
        s.console->toolkitEnds();
    if (s.ownApplication)
        platform::beforeToolkitDisconnects();
    s.ownApplication.reset();
    // In this order: a stop request in between still finds the console given back.
    s.console.reset();
    releaseTerminationSignals();
    return s.status;
}

void Runtime::registerClassesAndPlugins()
{
    // The layer's classes need no registration, and the toolkit finds its plug-ins (platform,
    // image formats) itself, when first needed: loading them here would only delay the first
    // window.
}

void Runtime::describeApplication(const std::string& name, const std::string& desktopId,
    const std::string& keepAwakeReason)
{
    runtimeState().applicationName = name;
    QApplication::setApplicationName(QString::fromStdString(name));
    // Taskbars and switchers match windows to the desktop entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromStdString(desktopId));
    runtimeState().keepAwakeReason = keepAwakeReason;
    // The icon ships in the resource folder too: read from there it needs no theme lookup. It
    // is set once the event loop runs, so that reading it (and the toolkit's image plug-ins)
    // does not delay the first window. Only an X window manager shows a window's own icon:
    // a Wayland compositor takes it from the desktop entry, and the console shows none.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    const QString iconFile = QString::fromStdString((Resources::folder() / (desktopId + ".png")).string());
    QTimer::singleShot(0, qApp, [iconFile] {
        // A window hands its icon to the window manager as raw pixels (on X, a property that
        // the window manager reads while it maps the window): small sizes only, as taskbars and
        // switchers show it. Larger icons come from the desktop entry's themed one.
        const QImage image(iconFile);
        if (image.isNull())
            return;
        QIcon icon;
        for (int size : { 16, 32, 48 })
            icon.addPixmap(QPixmap::fromImage(image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        QApplication::setWindowIcon(icon);
    });
}

void Runtime::registerApplication(std::unique_ptr<Application> application)
{
    if (!application)
        throw NilObjectException("There is no application object to register.");
    runtimeState().application = std::move(application);
}

Application* Runtime::application()
{
    return runtimeState().application.get();
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
    RuntimeState& s = runtimeState();
    if (s.quit) {
        showFailure(); // one from start-up, the loop never having run
        return;
    }
    s.inEventLoop = true;
    const RefreshBatch::NestedLoopGuard guard;
    const int status = QApplication::exec();
    s.inEventLoop = false;
    if (!s.quit)
        decideStatus(status);
}

void Runtime::quit(int status)
{
    RuntimeState& s = runtimeState();
    // The first request decides the status: a failure already being reported is not
    // turned into success by a later quit.
    if (s.quit)
        return;
    decideStatus(status);
    if (s.inEventLoop)
        QApplication::exit(status);
}

bool Runtime::hasQuit()
{
    return runtimeState().quit;
}

int Runtime::exitStatus()
{
    return runtimeState().status;
}

void Runtime::dispatch(const std::function<void()>& handler) noexcept
{
    if (runtimeState().failed)
        return;
    const RefreshBatch batch;
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

void Runtime::atShutDown(std::function<void()> cleanup)
{
    runtimeState().cleanups.push_back(std::move(cleanup));
}

void Runtime::resetForTesting()
{
    RuntimeState& s = runtimeState();
    if (s.windows)
        s.windows->destroyAll();
    s.application.reset();
    s.quit = false;
    s.status = 0;
    forgetDecidedStatus();
    s.inEventLoop = false;
    s.failed = false;
    s.failureShown = false;
    s.failureText.clear();
    s.terminated = false;
}

}

// Failures that no handler caught: reported at once on standard error; the windows leave the
// screen; the message box follows once the failing code has unwound.
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
    const std::string named = programName();
    const std::string program = named.empty() ? QApplication::applicationName().toStdString() : named;
    std::fprintf(stderr, "%s: %s\n", program.c_str(), text.c_str());
    std::fflush(stderr);
    if (s.failed)
        return;
    s.failed = true;
    // A failure outranks any status asked for before it: the run never ends as a success.
    // Once the user has quit, it is only reported here.
    s.failureShown = s.quit;
    decideStatus(UnhandledFailureStatus);
    s.failureText = text;
    try {
        // The windows are deleted once the code that failed has unwound.
        if (s.windows)
            s.windows->leaveScreen();
    } catch (...) {
    }
    if (s.inEventLoop)
        QTimer::singleShot(0, qApp, showFailure);
}

}
