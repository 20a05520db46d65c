#include "CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

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

// An option as the user would have typed it.
std::string dashed(const QString& name)
{
    return (name.size() == 1 ? "-" : "--") + name.toStdString();
}

CommandLine& current()
{
    static CommandLine options;
    return options;
}

}

std::string escapedForTerminal(const std::string& text)
{
    // Control characters (C0, DEL and the C1 range that terminals also obey), bytes that are
    // not UTF-8 and backslashes are spelled out, so that an argument can neither move the
    // cursor nor start an escape sequence on the user's terminal.
    std::string shown;
    const auto escape = [&shown](unsigned char byte) {
        char spelled[5];
        std::snprintf(spelled, sizeof spelled, "\\x%02X", byte);
        shown += spelled;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80 ? 1 : byte >= 0xC2 && byte < 0xE0 ? 2 : byte >= 0xE0 && byte < 0xF0 ? 3
            : byte >= 0xF0 && byte < 0xF5                                      ? 4
                                                                               : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                length = 0;
        }
        const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            escape(byte);
            ++i;
        } else if (c1) {
            escape(byte);
            escape(static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else if (byte == '\\') {
            shown += "\\\\";
            ++i;
        } else {
            shown.append(text, i, length);
            i += length;
        }
    }
    return shown;
}

CommandLine readCommandLine(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    const QCommandLineOption help(QStringList { "h", "help" });
    const QCommandLineOption version(QStringList { "v", "version" });
    const QCommandLineOption go("go");
    const QCommandLineOption screen("screen", QString(), "NAME");
    QCommandLineParser parser;
    parser.addOptions({ help, version, go, screen });
    const bool parsed = parser.parse(arguments);

    // Help and version win over anything else on the line, as they always have.
    if (parser.isSet(help))
        return endWith(0, Usage);
    if (parser.isSet(version))
        return endWith(0, std::string(Program) + " " + PROGRAM_VERSION + "\n");
    if (!parsed) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usageError("unknown option '" + escapedForTerminal(dashed(unknown.first())) + "'");
        // The only other complaint the parser has: a value missing at the end of the line.
        return usageError("option '--screen' needs a screen name");
    }
    if (!parser.positionalArguments().isEmpty()) {
        // Echoed as the bytes given, which need not be text at all.
        const QString first = parser.positionalArguments().first();
        std::string given = first.toLocal8Bit().toStdString();
        for (int i = argc - 1; i > 0; --i) {
            if (QString::fromLocal8Bit(argv[i]) == first)
                given = argv[i];
        }
        return usageError("unexpected argument '" + escapedForTerminal(given) + "'");
    }

    CommandLine line;
    line.go = parser.isSet(go);
    if (parser.isSet(screen)) {
        // "--screen --go" is a forgotten name, not a screen called "--go".
        const QString name = parser.value(screen);
        if (name.isEmpty() || name.startsWith(QLatin1Char('-')))
            return usageError("option '--screen' needs a screen name");
        line.screen = name.toLocal8Bit().toStdString();
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
