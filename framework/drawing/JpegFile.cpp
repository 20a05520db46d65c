#include "JpegFile.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <atomic>

namespace fw {

namespace {

// Decoder warnings (a truncated or damaged JPEG) arrive as Qt warnings while reading. The
// toolkit's message handler is a plain function, so what it counts is in file scope, set and
// read around one read. The handler is the process's, so the count is thread_local: a message
// from one of the toolkit's other threads during the read is not the picture's, and goes on.
thread_local bool t_reading = false;
thread_local int t_decoderWarnings = 0;
std::atomic<QtMessageHandler> s_previousHandler = nullptr;

void countWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (t_reading && (type == QtWarningMsg || type == QtCriticalMsg)) {
        ++t_decoderWarnings;
        return;
    }
    if (const QtMessageHandler previous = s_previousHandler)
        previous(type, context, message);
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
    s_previousHandler = qInstallMessageHandler(countWarnings);
    t_reading = true;
    QImage image = reader.read();
    t_reading = false;
    qInstallMessageHandler(s_previousHandler);
    s_previousHandler = nullptr;
    if (image.isNull() || t_decoderWarnings > 0 || image.size() != decoded)
        return nullptr;
    // A JPEG has no alpha: three bytes a pixel hold it all, a quarter less than the decoder's.
    if (!image.hasAlphaChannel() && image.format() != QImage::Format_Grayscale8)
        image.convertTo(QImage::Format_RGB888);
    return std::make_shared<Picture>(image, size.width(), size.height());
}

}
