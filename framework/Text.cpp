#include "framework/Text.h"

#include <QStringDecoder>
#include <algorithm>

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
    // The first character of the text's first four bytes; bytes that make none give U+FFFD.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString first = decoder(QByteArrayView(text.data(), std::min<qsizetype>(qsizetype(text.size()), 4)));
    if (first.isEmpty())
        return 0;
    if (first.size() > 1 && first[0].isHighSurrogate() && first[1].isLowSurrogate())
        return QChar::surrogateToUcs4(first[0], first[1]);
    return first[0].unicode();
}

}
