#pragma once

#include <cstdint>
#include <string>

namespace fw {

// Whole numbers are 64-bit everywhere in the layer, as the design records use them.
using Integer = std::int64_t;

// A colour with channels 0..255. Alpha 0 is fully opaque; 255 fully transparent.
struct Color {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 0;

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

constexpr Color RGB(int red, int green, int blue, int alpha = 0)
{
    auto clamp = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return Color { clamp(red), clamp(green), clamp(blue), clamp(alpha) };
}

// The one-character string for a Unicode code point, UTF-8 encoded. Codes that name no
// character (negative, surrogates, above U+10FFFF) give U+FFFD.
std::string Chr(Integer code);

// The code point of the first character of a UTF-8 string; 0 for the empty string. An
// invalid, overlong or truncated sequence counts as U+FFFD, so it can never read as a
// control character.
Integer Asc(const std::string& text);

// A uniformly distributed real r with 0 <= r < 1.
double Rnd();

}
