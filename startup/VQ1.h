#pragma once

#include "framework/Picture.h"

// The start picture's file in the resource folder.
inline constexpr const char* StartPictureFile = "VQ1.jpeg";

// The start picture, opened from the resource folder on first use and kept for the whole
// run. None while the file cannot be opened; every call then tries again.
fw::PictureRef VQ1();

namespace VQ1Cache {
inline bool initialised = false;
inline fw::PictureRef pic;
}
