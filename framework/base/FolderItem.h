#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace fw {

class FolderItem;
using FolderItemRef = std::shared_ptr<FolderItem>;

// A reference by path to a file-system item that may or may not exist.
class FolderItem {
public:
    explicit FolderItem(std::filesystem::path path);

    const std::filesystem::path& path() const { return m_path; }

    // The item of that name inside this folder; null for a name that cannot name a child
    // (empty, ".", "..", or holding "/" or NUL). Never depends on what is on disk.
    FolderItemRef Child(const std::string& name) const;
    bool Exists() const;
    // Creates the item as a folder; false when it could not be made (the reason is kept in
    // LastError). Nothing already on disk is touched.
    bool CreateAsFolder();
    const std::string& LastError() const { return m_lastError; }

private:
    std::filesystem::path m_path;
    std::string m_lastError;
};

class SpecialFolder {
public:
    // The user's folder for application data: $XDG_DATA_HOME when it is absolute, otherwise
    // $HOME/.local/share when HOME is absolute; made (mode 0700) when missing. Null when
    // neither gives a place.
    static FolderItemRef ApplicationData();
};

}
