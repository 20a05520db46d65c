#include "Startup.h"
#include "App.h"
#include "CommandLine.h"
#include "MainMenuBar.h"
#include "VQ1.h"
#include "Window1.h"
#include "wStartup.h"
#include "framework/Resources.h"
#include "framework/Runtime.h"

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
