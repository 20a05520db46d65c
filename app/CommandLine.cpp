#include "CommandLine.h"

#include <string_view>

namespace {

constexpr const char* Program = "velquarin-control-board";

constexpr const char* Usage = R"(Usage: velquarin-control-board [OPTION]...
Shows a start window with GO and Quit; GO fills the screen with a board of
coloured blocks that blink at random until Escape.

  -h, --help         show this help and end
  -v, --version      show the version and end
      --go           show the board at once, without the start window
      --screen NAME  show on the screen NAME, as the display system names it
                     (an output such as HDMI-1); on Wayland only the board

Keys: Return or Enter opens the board; Escape, or Ctrl+Q, ends the program.
Exit status: 0 when the user quits, 64 for a wrong command line, 69 without
a display, 70 after a failure, 128 + n when ended by signal n.
)";

CommandLine endWith(int status, std::string text)
{
    CommandLine line;
    line.endNow = true;
    line.status = status;
    line.text = std::move(text);
    return line;
}

CommandLine usageError(const std::string& problem)
{
    return endWith(UsageStatus, std::string(Program) + ": " + problem + "; see '" + Program + " --help'\n");
}

CommandLine& current()
{
    static CommandLine options;
    return options;
}

}

CommandLine readCommandLine(int argc, char** argv)
{
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-h" || argument == "--help")
            return endWith(0, Usage);
        if (argument == "-v" || argument == "--version")
            return endWith(0, std::string(Program) + " " + PROGRAM_VERSION + "\n");
        if (argument == "--go") {
            line.go = true;
        } else if (argument == "--screen" || argument.starts_with("--screen=")) {
            const bool joined = argument.starts_with("--screen=");
            if (!joined && i + 1 >= argc)
                return usageError("option '--screen' needs a screen name");
            line.screen = joined ? std::string(argument.substr(9)) : argv[++i];
            if (line.screen.empty())
                return usageError("option '--screen' needs a screen name");
        } else if (argument.starts_with("-")) {
            return usageError("unknown option '" + std::string(argument) + "'");
        } else {
            return usageError("unexpected argument '" + std::string(argument) + "'");
        }
    }
    return line;
}

const CommandLine& commandLine()
{
    return current();
}

void setCommandLine(const CommandLine& options)
{
    current() = options;
}
