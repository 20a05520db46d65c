#pragma once

#include "Picture.h"

#include <filesystem>
#include <string>

namespace fw {

// The application's resource folder: "resources" beside the program in a build tree, or
// where the install layout puts it relative to the program's folder. A folder counts only if
// it holds the file the application names; without one, the installed place is taken.
class Resources {
public:
    static void locate(const std::filesystem::path& installedFromProgram, const std::string& requiredFile);
    static std::filesystem::path folder();
    // Tests point the layer at a folder of their own; an empty path restores the default.
    static void setFolder(const std::filesystem::path& folder);
};

// Largest picture the layer decodes, in pixels per side, and its memory bound.
constexpr int MaxPictureSide = 8192;
constexpr int PictureAllocationLimitMB = 256;

// Opens a JPEG picture by file name from the resource folder. The file is read as JPEG
// whatever its content, and counts as opened only when it decodes completely without a
// decoder warning and within the size bounds; otherwise the result is none.
PictureRef PictureOpenFromApp(const std::string& name);

}
