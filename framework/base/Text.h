#pragma once

#include "Types.h"

#include <string>

namespace fw {

// The one-character string for a Unicode code point, UTF-8 encoded. Codes that name no
// character (negative, surrogates, above U+10FFFF) give U+FFFD.
std::string Chr(Integer code);

// The code point of the first character of a UTF-8 string; 0 for the empty string. An
// invalid, overlong or truncated sequence counts as U+FFFD, so it can never read as a
// control character.
Integer Asc(const std::string& text);

}
