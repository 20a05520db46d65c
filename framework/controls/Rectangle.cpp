#include "Rectangle.h"
#include "drawing/ToolkitStyle.h"

#include <QPainter>

namespace fw {

Rectangle::Rectangle(ControlHost& owner)
    : RectControl(owner)
{
}

void Rectangle::paint(QPainter& painter, const QTransform& toScreen, std::optional<Color> beneath)
{
    const int x = static_cast<int>(Left()), y = static_cast<int>(Top());
    const int w = static_cast<int>(Width()), h = static_cast<int>(Height());
    const int border = static_cast<int>(std::clamp<Integer>(m_borderWidth, 0, std::min(w, h) / 2));
    // A part in the colour already beneath it would change no pixel (a black border on black).
    const auto fill = [&](int left, int top, int width, int height, Color color) {
        if (color != beneath)
            painter.fillRect(toScreen.mapRect(QRect(left, top, width, height)), toQColor(color));
    };
    fill(x + border, y + border, w - 2 * border, h - 2 * border, m_fill);
    if (border == 0)
        return;
    fill(x, y, w, border, m_topLeft);
    fill(x, y + border, border, h - border, m_topLeft);
    fill(x + border, y + h - border, w - border, border, m_bottomRight);
    fill(x + w - border, y + border, border, h - 2 * border, m_bottomRight);
}

void Rectangle::setFillColor(Color color)
{
    if (color == m_fill)
        return;
    m_fill = color;
    Refresh();
}

void Rectangle::setBorderWidth(Integer width)
{
    m_borderWidth = width;
    Refresh();
}

void Rectangle::setTopLeftColor(Color color)
{
    m_topLeft = color;
    Refresh();
}

void Rectangle::setBottomRightColor(Color color)
{
    m_bottomRight = color;
    Refresh();
}

void Rectangle::applyDesign(const RectangleDesign& design)
{
    RectControl::applyDesign(design.control);
    setFillColor(design.FillColor);
    setBorderWidth(design.BorderWidth);
    setTopLeftColor(design.TopLeftColor);
    setBottomRightColor(design.BottomRightColor);
}

}
