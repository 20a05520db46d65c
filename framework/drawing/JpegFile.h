#pragma once

#include "Picture.h"

#include <string>

namespace fw {

// Largest picture the layer decodes, in pixels per side, and its memory bound.
constexpr int MaxPictureSide = 8192;
constexpr int PictureAllocationLimitMB = 256;

// Reads the file as JPEG whatever its content. It counts as opened only when it decodes
// completely without a decoder warning and within the size bounds; otherwise the result is
// none. Given the largest size it will be drawn at (device pixels; 0 for none), the decoder
// scales down by halves while the result still covers that size: fewer pixels to hold and to
// decode, and none lost to the drawing.
PictureRef readJpegStrictly(const std::string& path, Integer drawnWidth = 0, Integer drawnHeight = 0);

}
