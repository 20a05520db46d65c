#include "CommandLine.h"

#include <QCommandLineParser>
#include <QStringDecoder>
#include <QStringList>
#include <cstdint>
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
      --console      show on the Linux console it is started from, with no
                     desktop (through the kernel's mode setting); --screen
                     then names a connector such as HDMI-A-1
      --seed N       blink in the sequence that N (0 to 4294967295) fixes: the
                     same blocks lit at the same tick of every run

Keys: Return or Enter opens the board; Escape, or Ctrl+Q, ends the program.
Signals: SIGUSR1 takes the board back to its start (every block lit, the
blink from its first tick); SIGTERM and SIGINT end the program.
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

// The seed as given: decimal digits only, within 32 bits.
std::optional<std::uint32_t> seedFrom(const QString& given)
{
    if (given.isEmpty() || given.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : given) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}

std::string escapedForTerminal(const std::string& text)
{
    // Bytes that are not UTF-8, control characters (C0, DEL and C1, which terminals obey),
    // format characters (bidirectional overrides and isolates, which reorder the text after
    // them), line and paragraph separators and backslashes are spelled out, so that an
    // argument can neither move the cursor, start an escape sequence nor turn the line around.
    std::string shown;
    const auto spell = [&shown](const char* format, unsigned value) {
        char spelled[12];
        std::snprintf(spelled, sizeof spelled, format, value);
        shown += spelled;
    };
    const auto show = [&](const QString& decoded) {
        for (const char32_t c : decoded.toUcs4()) {
            const QChar::Category category = QChar::category(c);
            if (c == U'\\')
                shown += "\\\\";
            else if (c < 0x80 && category != QChar::Other_Control)
                shown += static_cast<char>(c);
            else if (c < 0x80)
                spell("\\x%02X", c);
            else if (category == QChar::Other_Control || category == QChar::Other_Format
                     || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
                spell(c > 0xFFFF ? "\\U%08X" : "\\u%04X", c);
            else
                shown += QString::fromUcs4(&c, 1).toStdString();
        }
    };
    // Fed a byte at a time, the decoder says which bytes make no character: a sequence it
    // cannot finish is spelled out byte by byte, and the byte that broke it read anew.
    // A byte order mark is a format character like the others, not dropped.
    constexpr auto Flags = QStringDecoder::Flag::ConvertInitialBom;
    QStringDecoder decoder(QStringDecoder::Utf8, Flags);
    std::string pending;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const QString decoded = decoder(QByteArrayView(text.data() + i, 1));
        if (!decoder.hasError()) {
            pending += text[i];
            if (!decoded.isEmpty()) {
                show(decoded);
                pending.clear();
            }
            continue;
        }
        decoder = QStringDecoder(QStringDecoder::Utf8, Flags);
        if (pending.empty()) {
            spell("\\x%02X", static_cast<unsigned char>(text[i]));
            continue;
        }
        for (const char byte : pending)
            spell("\\x%02X", static_cast<unsigned char>(byte));
        pending.clear();
        --i;
    }
    for (const char byte : pending)
        spell("\\x%02X", static_cast<unsigned char>(byte));
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
    const QCommandLineOption console("console");
    const QCommandLineOption seed("seed", QString(), "N");
    QCommandLineParser parser;
    parser.addOptions({ help, version, go, screen, console, seed });
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
        // The parser's own words, which name the option: a value missing after --screen, or
        // one given to an option that takes none.
        QString problem = parser.errorText().trimmed();
        if (problem.endsWith(QLatin1Char('.')))
            problem.chop(1);
        if (!problem.isEmpty())
            problem[0] = problem[0].toLower();
        return usageError(escapedForTerminal(problem.toStdString()));
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
    line.console = parser.isSet(console);
    if (parser.isSet(screen)) {
        // "--screen --go" is a forgotten name, not a screen called "--go".
        const QString name = parser.value(screen);
        if (name.isEmpty() || name.startsWith(QLatin1Char('-')))
            return usageError("option '--screen' needs a screen name");
        line.screen = name.toLocal8Bit().toStdString();
    }
    if (parser.isSet(seed)) {
        const QStringList given = parser.values(seed);
        if (given.size() > 1)
            return usageError("option '--seed' is given twice");
        line.seed = seedFrom(given.first());
        if (!line.seed) {
            return usageError("option '--seed' needs a number from 0 to 4294967295, not '"
                + escapedForTerminal(given.first().toLocal8Bit().toStdString()) + "'");
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
