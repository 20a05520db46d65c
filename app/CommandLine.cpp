#include "CommandLine.h"
#include "framework/Cues.h"
#include "framework/Runtime.h"

#include <QCommandLineParser>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

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
      --rotate DEGREES
                     draw the board and the start window turned 0, 90, 180 or
                     270 degrees clockwise, for a screen mounted on its side
                     or upside down
      --name NAME    the board's name for the show's cues and state (letters,
                     digits, - and _, at most 63); by default the host name,
                     with -SCREEN after it when --screen is given
      --osc [ADDRESS:]PORT
                     take cues over OSC on this port (UDP and TCP), on
                     127.0.0.1 unless ADDRESS says otherwise (0.0.0.0 for
                     every network):
                     /board/go, /board/back-to-one, /board/hold,
                     /board/resume, /board/dark, /board/standby,
                     /board/wake, /board/seed with a number, or
                     /board/NAME/go ... for this board alone; off
                     127.0.0.1, announced as NAME over DNS-SD (_osc._udp)
      --mqtt mqtt://HOST[:PORT]/TOPIC
                     take cues published to TOPIC, or to TOPIC/NAME for this
                     board alone, on an MQTT broker (the payload go,
                     back-to-one, hold, resume, dark, standby, wake or
                     seed N) and publish the
                     board's state to TOPIC/NAME/state; mqtts:// for TLS
                     with the system's certificate authorities
      --mqtt-ca FILE with mqtts://, trust the certificate authority in FILE
      --mqtt-credentials FILE
                     log in to the broker as the one line user:password in
                     FILE says

Keys: Return or Enter opens the board; Escape, or Ctrl+Q, ends the program.
Signals: SIGUSR1 takes the board back to its start (every block lit, the
blink from its first tick); SIGTERM and SIGINT end the program.
Cues (--osc, --mqtt): hold stops the board changing, resume goes on where it
held, dark puts every block out and holds, standby switches the display off
(and a television over HDMI-CEC) and wake on again; the others as above. See
the manual page.
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
    return endWith(UsageStatus, std::string(fw::programName()) + ": " + problem + "; see '" + fw::programName() + " --help'\n");
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

// A port, 1 to 65535, in decimal digits.
std::optional<std::uint16_t> portFrom(const QString& given)
{
    const std::optional<std::uint32_t> port = readDecimal32(given.toStdString());
    if (!port || *port == 0 || *port > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(*port);
}

// HOST or [IPv6], then :PORT if given. False when it is neither.
bool splitHostPort(const QString& given, QString& host, QString& port)
{
    if (given.startsWith(QLatin1Char('['))) {
        const qsizetype close = given.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = given.mid(1, close - 1);
        const QString rest = given.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        port = rest.mid(1);
        return !rest.isEmpty() ? !port.isEmpty() : true;
    }
    const qsizetype colon = given.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0 && given.indexOf(QLatin1Char(':')) != colon)
        return false; // an IPv6 address without its brackets
    host = colon < 0 ? given : given.left(colon);
    port = colon < 0 ? QString() : given.mid(colon + 1);
    return colon < 0 || !port.isEmpty();
}

std::optional<CommandLine::Osc> oscFrom(const QString& given)
{
    QString host;
    QString port;
    if (!given.contains(QLatin1Char(':'))) {
        port = given;
    } else if (!splitHostPort(given, host, port) || host.isEmpty()) {
        return std::nullopt;
    }
    const std::optional<std::uint16_t> number = portFrom(port);
    if (!number)
        return std::nullopt;
    if (host.isEmpty() || host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    return CommandLine::Osc { host.toStdString(), *number };
}

// mqtt://HOST[:PORT]/TOPIC or mqtts://...; the problem in `why` when it is not, with the value
// as given unless it holds a password.
std::optional<CommandLine::Mqtt> mqttFrom(const QString& given, std::string& why)
{
    const auto withValue = [&given](const std::string& problem) {
        return problem + ", not '" + escapedForTerminal(given.toLocal8Bit().toStdString()) + "'";
    };
    CommandLine::Mqtt mqtt;
    QString rest;
    if (given.startsWith(QLatin1String("mqtt://"))) {
        rest = given.mid(7);
    } else if (given.startsWith(QLatin1String("mqtts://"))) {
        mqtt.tls = true;
        rest = given.mid(8);
    } else {
        why = withValue("needs an address such as mqtt://broker.local/props/board");
        return std::nullopt;
    }
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = rest.left(slash);
    const QString topic = slash < 0 ? QString() : rest.mid(slash + 1);
    if (authority.contains(QLatin1Char('@'))) {
        // Not repeated: the line goes to the journal, which more people read.
        why = "takes no user name or password, which every user of this machine could read: "
              "give them in a file with --mqtt-credentials";
        return std::nullopt;
    }
    QString host;
    QString port;
    if (!splitHostPort(authority, host, port) || host.isEmpty()) {
        why = withValue("needs a broker's host name or address after " + std::string(mqtt.tls ? "mqtts://" : "mqtt://"));
        return std::nullopt;
    }
    const std::optional<std::uint16_t> number = port.isEmpty() ? std::optional<std::uint16_t>(mqtt.tls ? 8883 : 1883) : portFrom(port);
    if (!number) {
        why = withValue("needs a port from 1 to 65535");
        return std::nullopt;
    }
    if (!fw::isPlainMqttTopic(topic.toStdString())) {
        why = withValue("needs one topic after the host, without + or #, such as mqtt://broker.local/props/board");
        return std::nullopt;
    }
    mqtt.host = host.toStdString();
    mqtt.port = *number;
    mqtt.topic = topic.toStdString();
    return mqtt;
}

}

// Letters and digits of ASCII, - and _.
bool takenInName(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

std::string defaultName(const std::string& hostName, const std::string& screen)
{
    std::string name = hostName.substr(0, hostName.find('.'));
    if (name.empty())
        name = "board";
    if (!screen.empty())
        name += "-" + screen;
    std::replace_if(name.begin(), name.end(), [](char c) { return !takenInName(c); }, '-');
    return name.substr(0, LongestName);
}

std::optional<std::uint32_t> readDecimal32(const std::string& given)
{
    if (given.empty() || given.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : given) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
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
    const QCommandLineOption rotate("rotate", QString(), "DEGREES");
    const QCommandLineOption name("name", QString(), "NAME");
    const QCommandLineOption osc("osc", QString(), "ADDRESS:PORT");
    const QCommandLineOption mqtt("mqtt", QString(), "URL");
    const QCommandLineOption mqttCa("mqtt-ca", QString(), "FILE");
    const QCommandLineOption mqttCredentials("mqtt-credentials", QString(), "FILE");
    QCommandLineParser parser;
    parser.addOptions({ help, version, go, screen, console, seed, rotate, name, osc, mqtt, mqttCa, mqttCredentials });
    const bool parsed = parser.parse(arguments);

    // Help and version win over anything else on the line, as they always have.
    if (parser.isSet(help))
        return endWith(0, Usage);
    if (parser.isSet(version))
        return endWith(0, std::string(fw::programName()) + " " + PROGRAM_VERSION + "\n");
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
        line.seed = readDecimal32(given.first().toStdString());
        if (!line.seed) {
            return usageError("option '--seed' needs a number from 0 to 4294967295, not '"
                + escapedForTerminal(given.first().toLocal8Bit().toStdString()) + "'");
        }
    }
    // The value of an option given once, or the line that says what is wrong.
    const auto once = [&parser](const QCommandLineOption& option, QString& value) -> std::optional<CommandLine> {
        const QStringList given = parser.values(option);
        const std::string name = "option '--" + option.names().first().toStdString() + "'";
        if (given.size() > 1)
            return usageError(name + " is given twice");
        value = given.first();
        if (value.isEmpty() || value.startsWith(QLatin1Char('-')))
            return usageError(name + " needs a value");
        return std::nullopt;
    };
    const auto shown = [](const QString& value) { return escapedForTerminal(value.toLocal8Bit().toStdString()); };
    QString value;
    if (parser.isSet(rotate)) {
        // A number, as --seed's: "-90" is a value, not a forgotten one.
        if (parser.values(rotate).size() > 1)
            return usageError("option '--rotate' is given twice");
        value = parser.value(rotate);
        if (value != QLatin1String("0") && value != QLatin1String("90") && value != QLatin1String("180")
            && value != QLatin1String("270"))
            return usageError("option '--rotate' takes 0, 90, 180 or 270, not '" + shown(value) + "'");
        line.rotate = value.toInt();
    }
    if (parser.isSet(name)) {
        if (auto error = once(name, value))
            return *error;
        const std::string given = value.toLocal8Bit().toStdString();
        if (given.size() > LongestName || !std::all_of(given.begin(), given.end(), takenInName)) {
            return usageError("option '--name' takes letters, digits, - and _ (at most 63), not '"
                + shown(value) + "'");
        }
        line.name = given;
    } else {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0)
            host[0] = '\0';
        line.name = defaultName(host, line.screen);
    }
    if (parser.isSet(osc)) {
        if (auto error = once(osc, value))
            return *error;
        line.osc = oscFrom(value);
        if (!line.osc) {
            return usageError("option '--osc' needs a port, or a numeric address and a port, such as 9000 or "
                              "0.0.0.0:9000, not '" + shown(value) + "'");
        }
    }
    if (parser.isSet(mqtt)) {
        if (auto error = once(mqtt, value))
            return *error;
        std::string why;
        line.mqtt = mqttFrom(value, why);
        if (!line.mqtt)
            return usageError("option '--mqtt' " + why);
    }
    for (const QCommandLineOption* option : { &mqttCa, &mqttCredentials }) {
        if (!parser.isSet(*option))
            continue;
        if (auto error = once(*option, value))
            return *error;
        const std::string name = option->names().first().toStdString();
        if (!line.mqtt)
            return usageError("option '--" + name + "' goes with --mqtt");
        if (option == &mqttCa && !line.mqtt->tls)
            return usageError("option '--mqtt-ca' goes with an mqtts:// address");
        (option == &mqttCa ? line.mqtt->caFile : line.mqtt->credentialsFile) = value.toLocal8Bit().toStdString();
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
