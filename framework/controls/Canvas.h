#pragma once

#include "Control.h"
#include "../drawing/Graphics.h"

#include <functional>
#include <vector>

namespace fw {

// A control the program draws itself in its Paint event.
class Canvas : public RectControl {
public:
    using PaintHandler = std::function<void(Canvas&, Graphics&, const std::vector<PaintArea>&)>;

    explicit Canvas(ControlHost& owner);

    void applyDesign(const CanvasDesign& design);
    void setPaintHandler(PaintHandler handler) { m_paint = std::move(handler); }

private:
    friend class CanvasWidget;
    PaintHandler m_paint;
};

}
