#include "Graphics.h"
#include "RuntimeException.h"

#include <QImage>
#include <QPainter>

namespace fw {

void Graphics::DrawPicture(const PictureRef& picture, Integer x, Integer y, Integer width, Integer height,
    Integer sourceX, Integer sourceY, Integer sourceWidth, Integer sourceHeight)
{
    if (!picture)
        throw NilObjectException("There is no picture to draw.");
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_painter.drawImage(QRectF(x, y, width, height), picture->image(), QRectF(sourceX, sourceY, sourceWidth, sourceHeight));
}

}
