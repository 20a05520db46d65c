// Reading OSC packets: liblo's reader, bundles checked before it reads them, address patterns
// matched as OSC 1.0 matches them, a message's arguments as a cue's words.
#include "OscPackets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <lo/lo.h>
#include <unistd.h>
#include <vector>

namespace fw {

namespace {

// The longest part of an address pattern matched; a longer one matches nothing.
constexpr std::size_t LongestPatternPart = 256;

// One part of an address (between slashes) against one part of a pattern, as OSC 1.0 matches
// them: '?' any character, '*' any run of them, "[a-z]" or "[!a-z]" one of a set or not,
// "{go,hold}" one of the words. Each position of the two is judged once (the memo), so that no
// pattern from the network takes long.
class PartMatch {
public:
    PartMatch(std::string_view pattern, std::string_view text)
        : m_pattern(pattern)
        , m_text(text)
        , m_memo((pattern.size() + 1) * (text.size() + 1), Unknown)
    {
    }

    bool at(std::size_t p, std::size_t t)
    {
        std::int8_t& known = m_memo[p * (m_text.size() + 1) + t];
        if (known == Unknown)
            known = judge(p, t) ? 1 : 0;
        return known == 1;
    }

private:
    static constexpr std::int8_t Unknown = -1;

    bool judge(std::size_t p, std::size_t t)
    {
        if (p == m_pattern.size())
            return t == m_text.size();
        const char c = m_pattern[p];
        if (c == '*')
            return at(p + 1, t) || (t < m_text.size() && at(p, t + 1));
        if (c == '[') {
            const std::size_t close = m_pattern.find(']', p + 1);
            if (close == std::string_view::npos || t == m_text.size())
                return false;
            std::string_view set = m_pattern.substr(p + 1, close - p - 1);
            const bool negated = !set.empty() && set[0] == '!';
            if (negated)
                set.remove_prefix(1);
            bool in = false;
            for (std::size_t i = 0; i < set.size(); ++i) {
                if (i + 2 < set.size() && set[i + 1] == '-') {
                    in = in || (m_text[t] >= set[i] && m_text[t] <= set[i + 2]);
                    i += 2;
                } else {
                    in = in || m_text[t] == set[i];
                }
            }
            return in != negated && at(close + 1, t + 1);
        }
        if (c == '{') {
            const std::size_t close = m_pattern.find('}', p + 1);
            if (close == std::string_view::npos)
                return false;
            const std::string_view words = m_pattern.substr(p + 1, close - p - 1);
            for (std::size_t from = 0; from <= words.size();) {
                const std::size_t comma = std::min(words.find(',', from), words.size());
                const std::string_view word = words.substr(from, comma - from);
                if (m_text.substr(t, word.size()) == word && at(close + 1, t + word.size()))
                    return true;
                from = comma + 1;
            }
            return false;
        }
        return t < m_text.size() && (c == '?' || c == m_text[t]) && at(p + 1, t + 1);
    }

    std::string_view m_pattern;
    std::string_view m_text;
    std::vector<std::int8_t> m_memo;
};

}

// liblo reads only through a server of its own, and its UDP server cannot be bound to one
// address. This one is a local socket that nothing can reach: made in a folder of its own and
// unlinked with the folder at once. The link's sockets are where the datagrams come in.
lo_server readerWithoutSocket(std::string& why)
{
    std::string folder;
    for (const char* parent : { static_cast<const char*>(std::getenv("XDG_RUNTIME_DIR")), "/tmp" }) {
        folder = std::string(parent ? parent : "/tmp") + "/osc-reader-XXXXXX";
        if (::mkdtemp(folder.data()))
            break;
        folder.clear();
    }
    if (folder.empty()) {
        why = "cannot make OSC's reader: " + std::string(std::strerror(errno));
        return nullptr;
    }
    const std::string path = folder + "/r";
    lo_server reader = lo_server_new_with_proto(path.c_str(), LO_UNIX, [](int, const char*, const char*) { });
    ::unlink(path.c_str());
    ::rmdir(folder.c_str());
    if (!reader) {
        why = "cannot make OSC's reader";
        return nullptr;
    }
    // A bundle's time tag is not waited for: every cue acts on arrival.
    lo_server_enable_queue(reader, 0, 1);
    return reader;
}

// Whether every bundle in the datagram, nested ones too, is made of whole elements. liblo checks
// an element's length against what is left only after reading it into a signed size: on a 32-bit
// machine a length of 2 GB or more reads as negative, passes, and sends its reader outside the
// datagram. A datagram that is not a bundle is liblo's to judge.
bool wholeBundles(const char* data, std::size_t size)
{
    static constexpr char Bundle[] = "#bundle";
    if (size < sizeof Bundle || std::memcmp(data, Bundle, sizeof Bundle) != 0)
        return true;
    if (size < sizeof Bundle + 8)
        return false;
    std::size_t at = sizeof Bundle + 8; // the name and the time tag
    while (size - at >= 4) {
        std::uint32_t length;
        std::memcpy(&length, data + at, 4);
        length = ntohl(length);
        at += 4;
        if (length > size - at || !wholeBundles(data + at, length))
            return false;
        at += length;
    }
    return at == size;
}

// Whether the address pattern matches the address: part by part, as many parts in each.
bool addressMatches(std::string_view pattern, std::string_view address)
{
    while (true) {
        const std::size_t patternEnd = std::min(pattern.find('/', 1), pattern.size());
        const std::size_t addressEnd = std::min(address.find('/', 1), address.size());
        if (patternEnd > LongestPatternPart || !PartMatch(pattern.substr(0, patternEnd), address.substr(0, addressEnd)).at(0, 0))
            return false;
        pattern.remove_prefix(patternEnd);
        address.remove_prefix(addressEnd);
        if (pattern.empty() || address.empty())
            return pattern.empty() && address.empty();
    }
}


// The cue as a line: its name, then each argument after a blank.
std::string cueText(std::string cue, const char* types, lo_arg** argv, int argc)
{
    const auto whole = [&cue](double value) {
        // Within the range where a double holds every whole number exactly.
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) <= 9007199254740992.0)
            cue += std::to_string(static_cast<std::int64_t>(value));
        else
            cue += "(f)";
    };
    for (int i = 0; i < argc; ++i) {
        cue += ' ';
        switch (types[i]) {
        case LO_INT32:
            cue += std::to_string(argv[i]->i);
            break;
        case LO_INT64:
            cue += std::to_string(argv[i]->h);
            break;
        case LO_FLOAT:
            whole(argv[i]->f);
            break;
        case LO_DOUBLE:
            whole(argv[i]->d);
            break;
        case LO_TRUE:
        case LO_FALSE:
            cue += types[i] == LO_TRUE ? "1" : "0";
            break;
        case LO_STRING:
        case LO_SYMBOL:
            cue += &argv[i]->s;
            break;
        default:
            // A blob, a colour...: no cue takes one. Named by its type tag, so that the cue
            // is refused and says why.
            cue += std::string("(") + types[i] + ")";
        }
    }
    return cue;
}

}
