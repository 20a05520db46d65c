#include "CommandLine.h"
#include "Startup.h"
#include "framework/Runtime.h"
#include "framework/Screens.h"

#include <cstdio>

int main(int argc, char** argv)
{
    const CommandLine options = readCommandLine(argc, argv);
    if (options.endNow) {
        std::fputs(options.text.c_str(), options.status == 0 ? stdout : stderr);
        return options.status;
    }
    setCommandLine(options);
    fw::Runtime::bringUp(argc, argv);
    if (!options.screen.empty() && !fw::useScreen(options.screen)) {
        std::string names;
        for (const std::string& name : fw::screenNames())
            names += (names.empty() ? "" : ", ") + escapedForTerminal(name);
        std::fprintf(stderr, "velquarin-control-board: there is no screen named '%s'; the screens are: %s\n",
            escapedForTerminal(options.screen).c_str(), names.c_str());
        fw::Runtime::quit(UsageStatus);
        return fw::Runtime::shutDown();
    }
    Main();
    return fw::Runtime::shutDown();
}
