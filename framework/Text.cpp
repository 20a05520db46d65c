#include "Text.h"

namespace fw {

namespace {

constexpr Integer ReplacementCharacter = 0xFFFD;

bool isScalarValue(Integer code)
{
    return code >= 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

}

std::string Chr(Integer code)
{
    if (!isScalarValue(code))
        code = ReplacementCharacter;
    std::string out;
    auto c = static_cast<std::uint32_t>(code);
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

Integer Asc(const std::string& text)
{
    if (text.empty())
        return 0;
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80)
        return lead;

    int length;
    std::uint32_t code;
    std::uint32_t smallest;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, smallest = 0x10000;
    } else {
        return ReplacementCharacter;
    }
    if (text.size() < static_cast<std::size_t>(length))
        return ReplacementCharacter;
    for (int i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return ReplacementCharacter;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < smallest || !isScalarValue(code))
        return ReplacementCharacter;
    return code;
}

}
