#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Exit status for a command line the program does not understand (EX_USAGE).
inline constexpr int UsageStatus = 64;

// What the command line asks for. Read before anything connects to a display, so that help,
// version and usage errors work without one.
struct CommandLine {
    bool go = false; // no start window: the board at once
    std::string screen; // the screen to show on, by the name the display system gives it
    bool console = false; // on the Linux console, with no display server
    std::optional<std::uint32_t> seed; // the blink's sequence, the same in every run
    int rotate = 0; // degrees clockwise the windows are drawn turned: 0, 90, 180 or 270
    // The board's name on the show's network: letters, digits, - and _, at most 63. By default
    // the machine's host name, and the screen's after it when one is named.
    std::string name;
    // Cues from the show: OSC on a UDP address and port, MQTT through a broker.
    struct Osc {
        std::string address;
        std::uint16_t port = 0;
    };
    std::optional<Osc> osc;
    struct Mqtt {
        bool tls = false;
        std::string host;
        std::uint16_t port = 0;
        std::string topic;
        std::string caFile; // --mqtt-ca
        std::string credentialsFile; // --mqtt-credentials
    };
    std::optional<Mqtt> mqtt;
    // Set when the program ends at once: the text for standard output or, with a non-zero
    // status, standard error.
    bool endNow = false;
    int status = 0;
    std::string text;
};

CommandLine readCommandLine(int argc, char** argv);

// The longest name a board takes (a DNS label).
inline constexpr std::size_t LongestName = 63;

// The name a board has when none is given: the host's own, then -SCREEN if a screen is named,
// with anything a name does not take made a '-'.
std::string defaultName(const std::string& hostName, const std::string& screen);

// A whole number as given (a seed, a port): decimal digits only, within 32 bits.
std::optional<std::uint32_t> readDecimal32(const std::string& given);

// The text with control characters spelled out (\x1B), safe to print on a terminal.
std::string escapedForTerminal(const std::string& text);

// The options of this run, for the start-up steps.
const CommandLine& commandLine();
void setCommandLine(const CommandLine& options);
