#include "Resources.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <system_error>
#include <QImage>
#include <QImageReader>

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

// Decoder warnings (a truncated or damaged JPEG) arrive as Qt warnings while reading.
thread_local int t_decoderWarnings = 0;
QtMessageHandler t_previousHandler = nullptr;

void countWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg) {
        ++t_decoderWarnings;
        return;
    }
    if (t_previousHandler)
        t_previousHandler(type, context, message);
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

PictureRef PictureOpenFromApp(const std::string& name)
{
    const QString path = QString::fromStdString((Resources::folder() / name).string());
    if (!QFileInfo(path).isFile())
        return nullptr;
    QImageReader reader(path, "jpeg");
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(PictureAllocationLimitMB);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxPictureSide || size.height() > MaxPictureSide)
        return nullptr;

    t_decoderWarnings = 0;
    t_previousHandler = qInstallMessageHandler(countWarnings);
    QImage image = reader.read();
    qInstallMessageHandler(t_previousHandler);
    t_previousHandler = nullptr;
    if (image.isNull() || t_decoderWarnings > 0 || image.size() != size)
        return nullptr;
    // A JPEG has no alpha: three bytes a pixel hold it all, a quarter less than the decoder's.
    if (!image.hasAlphaChannel() && image.format() != QImage::Format_Grayscale8)
        image.convertTo(QImage::Format_RGB888);
    return std::make_shared<Picture>(image);
}

}
