#pragma once

#include "Control.h"

namespace fw {

// A filled rectangle with a border whose top and left edges are drawn in TopLeftColor and
// whose bottom and right edges in BottomRightColor.
class Rectangle : public RectControl {
public:
    explicit Rectangle(ControlHost& owner);

    Color FillColor() const { return m_fill; }
    void setFillColor(Color color);
    Integer BorderWidth() const { return m_borderWidth; }
    void setBorderWidth(Integer width);
    Color TopLeftColor() const { return m_topLeft; }
    void setTopLeftColor(Color color);
    Color BottomRightColor() const { return m_bottomRight; }
    void setBottomRightColor(Color color);

    void applyDesign(const RectangleDesign& design);
    void paint(QPainter& painter, const QTransform& toScreen, std::optional<Color> beneath) override;

private:
    Color m_fill = RGB(255, 255, 255);
    Integer m_borderWidth = 1;
    Color m_topLeft = RGB(0, 0, 0);
    Color m_bottomRight = RGB(0, 0, 0);
};

}
