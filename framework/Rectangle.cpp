#include "Rectangle.h"

#include <QPainter>
#include <QWidget>

namespace fw {

class RectangleWidget : public QWidget {
public:
    explicit RectangleWidget(const Rectangle& owner)
        : m_owner(owner)
    {
        // The rectangle covers itself wholly; nothing beneath needs painting first.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        auto qcolor = [](Color c) { return QColor(c.red, c.green, c.blue, 255 - c.alpha); };
        QPainter painter(this);
        const int w = width(), h = height();
        const int border = static_cast<int>(std::clamp<Integer>(m_owner.m_borderWidth, 0, std::min(w, h) / 2));
        painter.fillRect(border, border, w - 2 * border, h - 2 * border, qcolor(m_owner.m_fill));
        if (border == 0)
            return;
        const QColor topLeft = qcolor(m_owner.m_topLeft), bottomRight = qcolor(m_owner.m_bottomRight);
        painter.fillRect(0, 0, w, border, topLeft);
        painter.fillRect(0, border, border, h - border, topLeft);
        painter.fillRect(border, h - border, w - border, border, bottomRight);
        painter.fillRect(w - border, border, border, h - 2 * border, bottomRight);
    }

private:
    const Rectangle& m_owner;
};

Rectangle::Rectangle(Window& owner)
    : RectControl(owner, new RectangleWidget(*this))
{
}

void Rectangle::setFillColor(Color color)
{
    if (color == m_fill)
        return;
    m_fill = color;
    widget()->update();
}

void Rectangle::setBorderWidth(Integer width)
{
    m_borderWidth = width;
    widget()->update();
}

void Rectangle::setTopLeftColor(Color color)
{
    m_topLeft = color;
    widget()->update();
}

void Rectangle::setBottomRightColor(Color color)
{
    m_bottomRight = color;
    widget()->update();
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
