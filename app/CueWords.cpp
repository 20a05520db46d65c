#include "CueWords.h"
#include "framework/Cues.h"
#include "framework/Runtime.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* OscPrefix = "/board/";
constexpr std::pair<const char*, Cue::Kind> Plain[] = {
    { "go", Cue::Kind::Go },
    { "back-to-one", Cue::Kind::BackToOne },
    { "hold", Cue::Kind::Hold },
    { "resume", Cue::Kind::Resume },
    { "dark", Cue::Kind::Dark },
    { "standby", Cue::Kind::Standby },
    { "wake", Cue::Kind::Wake },
};
constexpr const char* SeedCue = "seed";
// A credentials file is one short line; a larger one is something else.
constexpr std::size_t LargestCredentials = 4096;
constexpr const char* CredentialName = "mqtt-credentials";

// The user name and password in the file, or the problem in `why`.
bool readCredentials(const std::string& file, fw::MqttCues& cues, std::string& why)
{
    // Built up in steps: GCC 12 warns, wrongly, of overlapping copies in "'" + std::string.
    std::string shown = "'";
    shown += escapedForTerminal(file);
    shown += "'";
    // Opened without waiting (a FIFO would hold the start up), then judged as the file opened.
    const int in = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status {};
    if (in < 0 || ::fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "cannot read the MQTT credentials in " + shown + (in >= 0 ? ": not a regular file" : "");
        if (in >= 0)
            ::close(in);
        return false;
    }
    std::string text(LargestCredentials + 1, '\0');
    std::size_t size = 0;
    ssize_t n = 0;
    while (size < text.size() && (n = ::read(in, text.data() + size, text.size() - size)) > 0)
        size += static_cast<std::size_t>(n);
    const int error = errno;
    ::close(in);
    if (n < 0) {
        why = "cannot read the MQTT credentials in " + shown + ": " + std::strerror(error);
        return false;
    }
    text.resize(size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const std::size_t colon = text.find(':');
    if (text.size() > LargestCredentials || text.find('\n') != std::string::npos || colon == std::string::npos
        || colon == 0) {
        why = "the MQTT credentials in " + shown + " are not one line user:password";
        return false;
    }
    cues.user = text.substr(0, colon);
    cues.password = text.substr(colon + 1);
    if (status.st_mode & S_IROTH)
        fw::sayLine("warning: every user of this machine can read the MQTT password in " + shown + " (chmod o-r)");
    else if (status.st_mode & S_IRGRP)
        fw::sayLine("warning: the file's group can read the MQTT password in " + shown + " (chmod g-r)");
    return true;
}

}

std::optional<Cue> readCue(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    const std::string cue = text.substr(first, last - first + 1);
    for (const auto& [name, kind] : Plain) {
        if (cue == name || cue == name + std::string(" 1"))
            return Cue { kind, 0 };
        if (cue == name + std::string(" 0"))
            return Cue { Cue::Kind::Release, 0 };
    }
    if (cue.rfind(SeedCue + std::string(" "), 0) == 0) {
        if (const std::optional<std::uint32_t> seed = readDecimal32(cue.substr(5)))
            return Cue { Cue::Kind::Seed, *seed };
    }
    return std::nullopt;
}

std::string ignoredCueLine(const std::string& text)
{
    return "ignoring the cue '" + escapedForTerminal(text)
        + "': the cues are go, back-to-one, hold, resume, dark, standby, wake and seed N (0 to 4294967295)";
}

int listenForCues(const CommandLine& options)
{
    if (options.osc) {
        fw::OscCues cues { options.osc->address, options.osc->port, OscPrefix, options.name, { SeedCue } };
        for (const auto& [name, kind] : Plain)
            cues.cues.push_back(name);
        const std::string why = fw::listenForOsc(cues);
        if (!why.empty()) {
            fw::sayLine(escapedForTerminal(why));
            return UsageStatus;
        }
    }
    if (options.mqtt) {
        fw::MqttCues cues;
        cues.host = options.mqtt->host;
        cues.port = options.mqtt->port;
        cues.topic = options.mqtt->topic;
        cues.name = options.name;
        cues.tls = options.mqtt->tls;
        cues.caFile = options.mqtt->caFile;
        cues.tell = fw::sayLine;
        std::string why;
        std::string credentials = options.mqtt->credentialsFile;
        // Under systemd, none named: the credential the unit hands over, if it does
        // (LoadCredential=mqtt-credentials:FILE), where only the board's account can read it.
        const char* handedOver = std::getenv("CREDENTIALS_DIRECTORY");
        if (credentials.empty() && handedOver && *handedOver
            && ::access((std::string(handedOver) + "/" + CredentialName).c_str(), F_OK) == 0)
            credentials = std::string(handedOver) + "/" + CredentialName;
        if (!credentials.empty() && !readCredentials(credentials, cues, why)) {
            fw::sayLine(why);
            return UsageStatus;
        }
        why = fw::followMqtt(cues);
        if (!why.empty()) {
            fw::sayLine(escapedForTerminal(why));
            return UsageStatus;
        }
    }
    return 0;
}
