#include "Text.h"

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
    // A code that names no character gives U+FFFD.
    const char32_t c = isScalarValue(code) ? static_cast<char32_t>(code) : ReplacementCharacter;
    return QString::fromUcs4(&c, 1).toStdString();
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
