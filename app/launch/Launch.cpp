#include "Launch.h"
#include "App.h"
#include "CommandLine.h"
#include "MainMenuBar.h"
#include "VQ1.h"
#include "Window1.h"
#include "wStartup.h"
#include "framework/Random.h"
#include "framework/Resources.h"
#include "framework/Runtime.h"
#include "framework/Screens.h"

namespace {

template <class W>
W* openWindow()
{
    for (fw::Window* window : fw::Window::openWindows()) {
        if (auto* found = dynamic_cast<W*>(window))
            return found;
    }
    return nullptr;
}

// A cue from the show, on whichever window it concerns; one for the board while the start
// window shows does nothing (a seed is kept for the board to come).
void actOnCue(const Cue& cue)
{
    class Window1* board = openWindow<class Window1>();
    if (board && !board->Visible())
        board = nullptr;
    switch (cue.kind) {
    case Cue::Kind::Go:
        if (class wStartup* start = openWindow<class wStartup>())
            start->PushButton1_Action(start->PushButton1());
        break;
    case Cue::Kind::BackToOne:
        if (board)
            board->BackToOne();
        break;
    case Cue::Kind::Hold:
        if (board)
            board->Hold();
        break;
    case Cue::Kind::Resume:
        if (board)
            board->Resume();
        break;
    case Cue::Kind::Dark:
        if (board)
            board->Dark();
        break;
    case Cue::Kind::Standby:
        fw::displayStandby();
        break;
    case Cue::Kind::Wake:
        fw::displayWake();
        break;
    case Cue::Kind::Release:
        break;
    case Cue::Kind::Seed:
        fw::Random::setSeed(cue.seed);
        if (board)
            board->BackToOne();
        break;
    }
}

}

int Main()
{
    fw::Runtime::dispatch([] {
        EarlyStartup();
        fw::Runtime::completeInitialisation(LateStartup);
        fw::Runtime::runEventLoop();
    });
    return fw::Runtime::exitStatus();
}

void EarlyStartup()
{
    fw::Runtime::registerClassesAndPlugins();
    fw::Resources::locate(RESOURCES_FROM_PROGRAM, StartPictureFile);
    fw::Runtime::describeApplication(ApplicationName, DesktopId, KeepAwakeReason);
    InitFileTypes();
    NewAppInstance();
    ApplicationAddMenuHandlers();
}

void InitFileTypes()
{
    // The application opens no documents.
}

void NewAppInstance()
{
    auto app = std::make_unique<App>();
    app->setMenuBar(&MainMenuBar());
    app->onCue = actOnCue;
    fw::Runtime::registerApplication(std::move(app));
}

void ApplicationAddMenuHandlers()
{
    // The application object handles no menu items of its own.
}

void LateStartup()
{
    MakeDefaultView();
}

void MakeDefaultView()
{
    // Unattended, the board shows at once, as GO would show it.
    if (commandLine().go)
        Window1().Show();
    else
        wStartup();
}
