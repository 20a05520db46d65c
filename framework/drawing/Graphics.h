#pragma once

#include "Picture.h"
#include "../base/Types.h"

class QPainter;

namespace fw {

// The drawing context a Paint event hands out; its origin is the control's top-left corner.
class Graphics {
public:
    explicit Graphics(QPainter& painter)
        : m_painter(painter)
    {
    }

    // Draws the source rectangle of the picture scaled into the destination rectangle.
    void DrawPicture(const PictureRef& picture, Integer x, Integer y, Integer width, Integer height,
        Integer sourceX, Integer sourceY, Integer sourceWidth, Integer sourceHeight);

private:
    QPainter& m_painter;
};

// One rectangle of the area a Paint event asks to redraw.
struct PaintArea {
    Integer Left, Top, Width, Height;
};

}
