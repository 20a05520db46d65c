#include "CommandLine.h"
#include "CueWords.h"
#include "Launch.h"
#include "framework/Random.h"
#include "framework/Runtime.h"
#include "framework/Screens.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int noSuchScreen(const std::string& screen, const std::vector<std::string>& screens)
{
    std::string names;
    for (const std::string& name : screens)
        names += (names.empty() ? "" : ", ") + escapedForTerminal(name);
    fw::sayLine("there is no screen named '" + escapedForTerminal(screen) + "'; the screens are: " + names);
    return UsageStatus;
}

}

int main(int argc, char** argv)
{
    const CommandLine options = readCommandLine(argc, argv);
    if (options.endNow) {
        std::fputs(options.text.c_str(), options.status == 0 ? stdout : stderr);
        return options.status;
    }
    setCommandLine(options);
    if (const int status = listenForCues(options))
        return status;
    fw::Runtime::adviseWithoutDisplay("start it inside a desktop session, or on a Linux console with --console");
    if (options.console) {
        const fw::ConsoleUse console = fw::useConsole(options.screen, fw::sayLine);
        if (console.result == fw::ConsoleUse::Stopped)
            return console.status;
        if (console.result == fw::ConsoleUse::UnknownScreen)
            return noSuchScreen(options.screen, console.screens);
        if (!console.message.empty())
            fw::sayLine(console.message);
        if (console.result == fw::ConsoleUse::CannotStart)
            return fw::CannotStartStatus;
    }
    if (options.go) {
        fw::Runtime::startsWithTheSession();
        fw::Runtime::onlyFullScreen();
    }
    fw::Random::setSeed(options.seed);
    fw::turnWindows(options.rotate);
    fw::Runtime::bringUp(argc, argv);
    if (!options.console && !options.screen.empty() && !fw::useScreen(options.screen)) {
        const int status = noSuchScreen(options.screen, fw::screenNames());
        fw::Runtime::quit(status);
        return fw::Runtime::shutDown();
    }
    Main();
    return fw::Runtime::shutDown();
}
