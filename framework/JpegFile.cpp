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

// The JPEG decoder scales by 1/2, 1/4 or 1/8 while it decodes, rounding up.
QSize decodedSize(QSize file, Integer drawnWidth, Integer drawnHeight)
{
    QSize size = file;
    for (int denominator = 2; denominator <= 8; denominator *= 2) {
        const QSize smaller((file.width() + denominator - 1) / denominator, (file.height() + denominator - 1) / denominator);
        if (smaller.width() < drawnWidth || smaller.height() < drawnHeight)
            break;
        size = smaller;
    }
    return size;
}

}

PictureRef readJpegStrictly(const std::string& file, Integer drawnWidth, Integer drawnHeight)
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

    const QSize decoded = drawnWidth > 0 && drawnHeight > 0 ? decodedSize(size, drawnWidth, drawnHeight) : size;
    if (decoded != size)
        reader.setScaledSize(decoded);
    t_decoderWarnings = 0;
    t_previousHandler = qInstallMessageHandler(countWarnings);
    QImage image = reader.read();
    qInstallMessageHandler(t_previousHandler);
    t_previousHandler = nullptr;
    if (image.isNull() || t_decoderWarnings > 0 || image.size() != decoded)
        return nullptr;
    // A JPEG has no alpha: three bytes a pixel hold it all, a quarter less than the decoder's.
    if (!image.hasAlphaChannel() && image.format() != QImage::Format_Grayscale8)
        image.convertTo(QImage::Format_RGB888);
    return std::make_shared<Picture>(image, size.width(), size.height());
}

}
