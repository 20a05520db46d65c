#include "Graphics.h"
#include "base/RuntimeException.h"

#include <QImage>
#include <QPainter>

namespace fw {

void Graphics::DrawPicture(const PictureRef& picture, Integer x, Integer y, Integer width, Integer height,
    Integer sourceX, Integer sourceY, Integer sourceWidth, Integer sourceHeight)
{
    if (!picture)
        throw NilObjectException("There is no picture to draw.");
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The source rectangle is in the file's pixels; the image may be decoded smaller.
    const QImage& image = picture->image();
    const qreal sx = qreal(image.width()) / qreal(picture->Width());
    const qreal sy = qreal(image.height()) / qreal(picture->Height());
    m_painter.drawImage(QRectF(x, y, width, height), image,
        QRectF(sourceX * sx, sourceY * sy, sourceWidth * sx, sourceHeight * sy));
}

}
