#include "framework/Resources.h"
#include "JpegFile.h"

#include <QCoreApplication>
#include <system_error>

namespace fw {

namespace {

std::filesystem::path& overrideFolder()
{
    static std::filesystem::path folder;
    return folder;
}

struct Layout {
    std::filesystem::path installedFromProgram;
    std::string requiredFile;
};

Layout& layout()
{
    static Layout instance;
    return instance;
}

}

void Resources::locate(const std::filesystem::path& installedFromProgram, const std::string& requiredFile)
{
    layout() = { installedFromProgram, requiredFile };
}

std::filesystem::path Resources::folder()
{
    if (!overrideFolder().empty())
        return overrideFolder();
    // The program's own folder, with links resolved: a renamed program, or a prefix moved as
    // a whole, still finds its resources.
    const std::filesystem::path programFolder = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path installed = (programFolder / layout().installedFromProgram).lexically_normal();
    for (const auto& candidate : { programFolder / "resources", installed }) {
        std::error_code error; // a folder that cannot be looked into is just not the one
        if (!layout().requiredFile.empty() && std::filesystem::exists(candidate / layout().requiredFile, error))
            return candidate;
    }
    return installed;
}

void Resources::setFolder(const std::filesystem::path& folder)
{
    overrideFolder() = folder;
}

PictureRef PictureOpenFromApp(const std::string& name, Integer drawnWidth, Integer drawnHeight)
{
    return readJpegStrictly((Resources::folder() / name).string(), drawnWidth, drawnHeight);
}

}
