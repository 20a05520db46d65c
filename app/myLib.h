#pragma once

#include "framework/FolderItem.h"
#include "framework/Types.h"

#include <string>

// Application-wide values, set once by InitMyLib when the application opens.
namespace myLib {

inline constexpr const char* BundlePrefix = BUNDLE_PREFIX;

inline std::string AppName;
inline std::string AppBundleID;
inline fw::FolderItemRef ApplicationDataFolder;
inline fw::FolderItemRef PrefsFile;
inline double pi = 0.0;
inline fw::Color black;
inline fw::Color red;
inline fw::Color green;
inline fw::Color blue;
inline std::string CR;
inline std::string DQUOTE;

void InitMyLib(const std::string& appName);
void MakeBundleID();
void MakeApplicationFolder();
void MakePrefsFileName();

}
