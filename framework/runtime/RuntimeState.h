#pragma once

// The runtime's process-wide state, shared by the files that make up the life cycle. Not for
// use outside the layer.
#include "cues/CueLink.h"
#include "Application.h"
#include "MessageBox.h"
#include "Random.h"
#include "platform/Platform.h"

#include <QApplication>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fw {

class RectControl;

// Rnd()'s source (Random.cpp): a test's scripted one, or else the sequence of the seed, if one
// is set, or else the system's generator.
struct RandomState {
    Random::Source scripted;
    std::optional<std::uint32_t> seed;
    std::mt19937 engine; // the seed's sequence
};

// The windowless controls shown or hidden by the handlers running now, and how deep they nest
// (RefreshBatch). The list keeps its room from one handler to the next: a tick allocates nothing.
struct RefreshState {
    RefreshState() { queue.reserve(64); }
    std::vector<RectControl*> queue;
    int handlersRunning = 0;
};

// What the toolkit is started with. It keeps argc by reference, and argv's strings: both
// outlive it.
struct ToolkitArguments {
    std::string program;
    int argc = 1;
    char* argv[2] = { nullptr, nullptr };
};

// Where the application's resources are (Resources).
struct ResourceLayout {
    std::filesystem::path installedFromProgram;
    std::string requiredFile; // a folder counts only if it holds this
    std::filesystem::path testFolder; // a test's own, over the others
};

// The open windows as the life cycle, which knows no window, sees them: the window list
// (WindowList.cpp) keeps them in one of these, made when first asked for.
class OpenWindows {
public:
    virtual ~OpenWindows() = default;
    // Every one leaves the screen now (a failure nobody handled).
    virtual void leaveScreen() = 0;
    virtual void hearUserSignal() = 0;
    // Every one is destroyed, open or closing (shut-down, tests).
    virtual void destroyAll() = 0;
};

struct RuntimeState {
    ToolkitArguments toolkitArguments; // before the application, which it outlives
    std::unique_ptr<QApplication> ownApplication;
    std::unique_ptr<Application> application;
    std::unique_ptr<platform::ConsoleRun> console; // on the Linux console, the run there
    std::unique_ptr<OpenWindows> windows;
    std::shared_ptr<void> menuBars; // the implicit instances' list (MenuBar.cpp), until shut-down
    std::vector<std::function<void()>> cleanups;
    std::vector<std::unique_ptr<CueLink>> cueLinks; // opened by the command line, until shut-down
    RandomState random;
    RefreshState refresh;
    ResourceLayout resources;
    MessageBox::Interceptor messageInterceptor; // a test's, in place of the message box
    std::string applicationName; // the name users see
    std::string keepAwakeReason; // what the desktop is told while the display is kept awake
    std::string chosenScreen; // where windows show (useScreen); none: where the system puts them
    std::string noDisplayAdvice = "start it inside a desktop session";
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
    // Every window the program shows covers its screen (Runtime::onlyFullScreen).
    bool onlyFullScreen = false;
    // Started with the desktop session, until its first full-screen window shows.
    bool startsWithTheSession = false;
};

// Never destroyed by the C++ runtime: when the toolkit itself calls exit() (the display went
// away), tearing the application down from a static destructor would crash. shutDown()
// releases everything on every normal path.
RuntimeState& runtimeState();

// Termination signals (TerminationSignals.cpp): caught from bring-up (or earlier, once), read
// by the event loop.
void catchTerminationSignals();
// Before the event loop runs: waits until `descriptor` can be read, at most `milliseconds`
// (-1: no limit). 0 then; the status to end with if a termination signal came first.
int waitUnlessStopped(int descriptor, int milliseconds);
void readTerminationSignals();
void releaseTerminationSignals();
// Nothing waits for the user any more: the rest of the quit ends within a bound of its own.
void boundTheLeaving();
// The run ends with this status: kept by a stop request that has to end it at once.
void decideStatus(int status);
void forgetDecidedStatus();

// The toolkit's messages (ToolkitMessages.cpp): watched from bring-up; its platform warnings
// held back until it has started.
void watchToolkitMessages();
void toolkitStarted();

// The cues' links (cues/Cues.cpp): started once the toolkit has, ended before the windows go.
void startCueLinks();
void endCueLinks();
// Before start: the cues that have come are forgotten, with one line ending in `why`.
void dropWaitingCues(const std::string& why);
// While the display is in standby (Screens.cpp), every link reads "standby", whatever the program
// announces; awake, the state it announced last.
void announceStandby(bool standby);

// A failure's message box (Runtime.cpp), shown once where nothing that failed is on the stack.
void showFailure();

}
