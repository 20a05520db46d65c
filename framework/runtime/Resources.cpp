#include "Resources.h"
#include "drawing/JpegFile.h"

#include <QCoreApplication>
#include <system_error>

namespace fw {

namespace {
// Where the application's resources are.
struct Layout {
    std::filesystem::path installedFromProgram;
    std::string requiredFile; // a folder counts only if it holds this
    std::filesystem::path testFolder; // a test's own, over the others
};

Layout s_layout;
}

void Resources::locate(const std::filesystem::path& installedFromProgram, const std::string& requiredFile)
{
    s_layout.installedFromProgram = installedFromProgram;
    s_layout.requiredFile = requiredFile;
}

std::filesystem::path Resources::folder()
{
    const Layout& layout = s_layout;
    if (!layout.testFolder.empty())
        return layout.testFolder;
    // The program's own folder, with links resolved: a renamed program, or a prefix moved as
    // a whole, still finds its resources.
    const std::filesystem::path programFolder = QCoreApplication::applicationDirPath().toStdString();
    const std::filesystem::path installed = (programFolder / layout.installedFromProgram).lexically_normal();
    for (const auto& candidate : { programFolder / "resources", installed }) {
        std::error_code error; // a folder that cannot be looked into is just not the one
        if (!layout.requiredFile.empty() && std::filesystem::exists(candidate / layout.requiredFile, error))
            return candidate;
    }
    return installed;
}

void Resources::setFolder(const std::filesystem::path& folder)
{
    s_layout.testFolder = folder;
}

PictureRef PictureOpenFromApp(const std::string& name, Integer drawnWidth, Integer drawnHeight)
{
    return readJpegStrictly((Resources::folder() / name).string(), drawnWidth, drawnHeight);
}

}
