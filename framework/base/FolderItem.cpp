#include "FolderItem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace fw {

FolderItem::FolderItem(std::filesystem::path path)
    : m_path(std::move(path))
{
}

FolderItemRef FolderItem::Child(const std::string& name) const
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos
        || name.find('\0') != std::string::npos)
        return nullptr;
    return std::make_shared<FolderItem>(m_path / name);
}

bool FolderItem::Exists() const
{
    struct stat info;
    return ::lstat(m_path.c_str(), &info) == 0;
}

bool FolderItem::CreateAsFolder()
{
    // mkdir never replaces what is there: an existing item of any kind makes it fail.
    if (::mkdir(m_path.c_str(), 0777) == 0) {
        m_lastError.clear();
        return true;
    }
    m_lastError = std::strerror(errno);
    return false;
}

namespace {

std::filesystem::path absoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return {};
    std::filesystem::path path(value);
    return path.is_absolute() ? path : std::filesystem::path {};
}

// Makes each missing folder of the path, private to the user, as the XDG convention asks.
void makeFolders(const std::filesystem::path& path)
{
    std::filesystem::path partial;
    for (const auto& part : path) {
        partial /= part;
        struct stat info;
        if (::stat(partial.c_str(), &info) != 0)
            ::mkdir(partial.c_str(), 0700);
    }
}

}

FolderItemRef SpecialFolder::ApplicationData()
{
    std::filesystem::path folder = absoluteFromEnvironment("XDG_DATA_HOME");
    if (folder.empty()) {
        const std::filesystem::path home = absoluteFromEnvironment("HOME");
        if (home.empty())
            return nullptr;
        folder = home / ".local" / "share";
    }
    makeFolders(folder.lexically_normal());
    return std::make_shared<FolderItem>(folder.lexically_normal());
}

}
