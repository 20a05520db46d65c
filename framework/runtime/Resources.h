#pragma once

#include "../drawing/Picture.h"

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

// Opens a JPEG picture by file name from the resource folder, strictly (see JpegFile.h):
// none unless it decodes completely. With the largest size it will be drawn at, in device
// pixels, it is decoded no larger than that needs.
PictureRef PictureOpenFromApp(const std::string& name, Integer drawnWidth = 0, Integer drawnHeight = 0);

}
