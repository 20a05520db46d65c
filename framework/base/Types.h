#pragma once

#include <cstdint>

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

}
