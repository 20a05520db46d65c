#include "CommandLine.h"
#include "CueWords.h"
#include "Startup.h"
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
    std::fprintf(stderr, "%s: there is no screen named '%s'; the screens are: %s\n", fw::programName(),
        escapedForTerminal(screen).c_str(), names.c_str());
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
        const fw::ConsoleUse console = fw::useConsole(options.screen, [](const std::string& line) {
            std::fprintf(stderr, "%s: %s\n", fw::programName(), line.c_str());
        });
        if (console.result == fw::ConsoleUse::Stopped)
            return console.status;
        if (console.result == fw::ConsoleUse::UnknownScreen)
            return noSuchScreen(options.screen, console.screens);
        if (!console.message.empty())
            std::fprintf(stderr, "%s: %s\n", fw::programName(), console.message.c_str());
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
