#include "JpegFile.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace fw {

namespace {

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

PictureRef readJpegStrictly(const std::string& file)
{
    const QString path = QString::fromStdString(file);
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
