#include "Canvas.h"
#include "runtime/Runtime.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace fw {

class CanvasWidget : public QWidget {
public:
    explicit CanvasWidget(Canvas& owner)
        : m_owner(owner)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (!m_owner.m_paint)
            return;
        std::vector<PaintArea> areas;
        for (const QRect& r : event->region())
            areas.push_back({ r.x(), r.y(), r.width(), r.height() });
        QPainter painter(this);
        Graphics graphics(painter);
        Runtime::dispatch([&] { m_owner.m_paint(m_owner, graphics, areas); });
    }

private:
    Canvas& m_owner;
};

Canvas::Canvas(ControlHost& owner)
    : RectControl(owner, new CanvasWidget(*this))
{
    widget()->setFocusPolicy(Qt::NoFocus);
}

void Canvas::applyDesign(const CanvasDesign& design)
{
    RectControl::applyDesign(design.control);
    widget()->setFocusPolicy(design.AcceptFocus ? Qt::StrongFocus : Qt::NoFocus);
    // A transparent canvas lets whatever lies beneath show where it draws nothing.
    widget()->setAutoFillBackground(!design.Transparent);
}

}
