#pragma once

#include "Picture.h"

#include <string>

namespace fw {

// Largest picture the layer decodes, in pixels per side, and its memory bound.
constexpr int MaxPictureSide = 8192;
constexpr int PictureAllocationLimitMB = 256;

// Reads the file as JPEG whatever its content. It counts as opened only when it decodes
// completely without a decoder warning and within the size bounds; otherwise the result is
// none.
PictureRef readJpegStrictly(const std::string& path);

}
