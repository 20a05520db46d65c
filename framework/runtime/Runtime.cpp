#include "Runtime.h"
#include "Failure.h"
#include "Life.h"
#include "MessageBox.h"
#include "RefreshBatch.h"
#include "Resources.h"
#include "TerminationSignals.h"
#include "ToolkitMessages.h"
#include "cues/CueLinks.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <utility>
#include <vector>

namespace fw {

namespace {

// What the toolkit is started with. It keeps argc by reference, and argv's strings: both
// outlive it.
struct ToolkitArguments {
    std::string program;
    int argc = 1;
    char* argv[2] = { nullptr, nullptr };
};

// The run, from bring-up to shut-down. Never destroyed by the C++ runtime: when the toolkit
// itself calls exit() (the display went away), tearing the application down from a static
// destructor would crash. shutDown() releases everything on every normal path.
struct Life {
    ToolkitArguments toolkitArguments; // before the application, which it outlives
    std::unique_ptr<QApplication> ownApplication;
    std::unique_ptr<Application> application;
    std::unique_ptr<platform::ConsoleRun> console; // on the Linux console, the run there
    OpenWindows* windows = nullptr;
    std::vector<std::function<void()>> cleanups;
    std::string applicationName; // the name users see
    std::string keepAwakeReason; // what the desktop is told while the display is kept awake
    std::string noDisplayAdvice = "start it inside a desktop session";
    bool inEventLoop = false;
    // Every window the program shows covers its screen (Runtime::onlyFullScreen).
    bool onlyFullScreen = false;
    // Started with the desktop session, until its first full-screen window shows.
    bool startsWithTheSession = false;
};

Life& life()
{
    static auto* l = new Life;
    return *l;
}

// A failure's message box, where nothing that failed is on the stack; the event loop, if one
// runs, ends with it.
void showFailureBox()
{
    if (showFailure(life().applicationName) && life().inEventLoop)
        QApplication::exit(decidedStatus());
}

void hearUserSignal()
{
    if (!Runtime::hasQuit() && life().windows)
        Runtime::dispatch([] { life().windows->hearUserSignal(); });
}

void deliverToApplication(const std::string& cue)
{
    Application* app = life().application.get();
    if (Runtime::hasQuit() || !app)
        return;
    Runtime::dispatch([app, &cue] { app->Event_Cue(cue); });
}

}

void followWindows(OpenWindows& windows)
{
    life().windows = &windows;
}

std::unique_ptr<platform::ConsoleRun>& consoleRun()
{
    return life().console;
}

const std::string& keepAwakeReason()
{
    return life().keepAwakeReason;
}

bool firstWindowOfTheSession()
{
    return std::exchange(life().startsWithTheSession, false);
}

void Runtime::bringUp(int argc, char** argv)
{
    if (QApplication::instance())
        return;
    Life& s = life();
    watchToolkitMessages(s.console != nullptr, s.noDisplayAdvice);
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
    readTerminationSignals(hearUserSignal);
    platform::tellAliveWhileTheLoopTurns();
    startCueLinks();
}

void Runtime::adviseWithoutDisplay(const std::string& advice)
{
    life().noDisplayAdvice = advice;
}

void Runtime::onlyFullScreen()
{
    life().onlyFullScreen = true;
}

void Runtime::startsWithTheSession()
{
    life().startsWithTheSession = true;
}

int Runtime::shutDown()
{
    Life& s = life();
    showFailureBox();
    startQuitDeadline();
    endCueLinks();
    if (s.windows)
        s.windows->destroyAll();
    s.application.reset();
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
    return decidedStatus();
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
    life().applicationName = name;
    QApplication::setApplicationName(QString::fromStdString(name));
    // Taskbars and switchers match windows to the desktop entry by this name.
    QGuiApplication::setDesktopFileName(QString::fromStdString(desktopId));
    life().keepAwakeReason = keepAwakeReason;
    // The icon ships in the resource folder too: read from there it needs no theme lookup.
    platform::showIconFrom((Resources::folder() / (desktopId + ".png")).string());
}

void Runtime::registerApplication(std::unique_ptr<Application> application)
{
    if (!application)
        throw NilObjectException("There is no application object to register.");
    life().application = std::move(application);
    receiveCues(deliverToApplication);
}

Application* Runtime::application()
{
    return life().application.get();
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
    Life& s = life();
    if (statusDecided()) {
        showFailureBox(); // one from start-up, the loop never having run
        return;
    }
    s.inEventLoop = true;
    const RefreshBatch::NestedLoopGuard guard;
    const int status = QApplication::exec();
    s.inEventLoop = false;
    if (!statusDecided())
        decideStatus(status);
}

void Runtime::quit(int status)
{
    // The first request decides the status: a failure already being reported is not
    // turned into success by a later quit.
    if (statusDecided())
        return;
    decideStatus(status);
    if (life().inEventLoop)
        QApplication::exit(status);
}

bool Runtime::hasQuit()
{
    return statusDecided();
}

int Runtime::exitStatus()
{
    return decidedStatus();
}

void Runtime::dispatch(const std::function<void()>& handler) noexcept
{
    if (failureCame())
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
    life().cleanups.push_back(std::move(cleanup));
}

void Runtime::resetForTesting()
{
    Life& s = life();
    if (s.windows)
        s.windows->destroyAll();
    s.application.reset();
    forgetDecidedStatus();
    s.inEventLoop = false;
    forgetFailure();
}

// Failures that no handler caught: reported at once on standard error; the windows leave the
// screen; the message box follows once the failing code has unwound.
void Runtime::handleUnhandledFailure(const RuntimeException& failure) noexcept
{
    const std::string text = std::string(failure.className()) + ": " + failure.what();
    sayLine(text);
    // A failure outranks any status asked for before it: the run never ends as a success.
    if (!takeFailure(text, statusDecided()))
        return;
    decideStatus(UnhandledFailureStatus);
    Life& s = life();
    try {
        // The windows are deleted once the code that failed has unwound.
        if (s.windows)
            s.windows->leaveScreen();
    } catch (...) {
    }
    if (s.inEventLoop)
        QTimer::singleShot(0, qApp, showFailureBox);
}

}
