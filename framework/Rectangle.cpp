#include "framework/Rectangle.h"
#include "ToolkitStyle.h"

#include <QPainter>

namespace fw {

Rectangle::Rectangle(ControlHost& owner)
    : RectControl(owner)
{
}

void Rectangle::paint(QPainter& painter)
{
    const int x = static_cast<int>(Left()), y = static_cast<int>(Top());
    const int w = static_cast<int>(Width()), h = static_cast<int>(Height());
    const int border = static_cast<int>(std::clamp<Integer>(m_borderWidth, 0, std::min(w, h) / 2));
    painter.fillRect(x + border, y + border, w - 2 * border, h - 2 * border, toQColor(m_fill));
    if (border == 0)
        return;
    const QColor topLeft = toQColor(m_topLeft), bottomRight = toQColor(m_bottomRight);
    painter.fillRect(x, y, w, border, topLeft);
    painter.fillRect(x, y + border, border, h - border, topLeft);
    painter.fillRect(x + border, y + h - border, w - border, border, bottomRight);
    painter.fillRect(x + w - border, y + border, border, h - 2 * border, bottomRight);
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
