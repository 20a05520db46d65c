#include "ContentWidget.h"
#include "framework/Control.h"
#include "framework/Runtime.h"

#include <QPaintEvent>
#include <QPainter>

namespace fw {

ContentWidget::ContentWidget(const ControlHost& controls, std::function<void()> drawn, QWidget* parent)
    : QWidget(parent)
    , m_controls(controls)
    , m_drawn(std::move(drawn))
{
}

void ContentWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    for (RectControl* rect : m_controls.windowlessControls()) {
        if (!rect->Visible())
            continue;
        const QRect area(static_cast<int>(rect->Left()), static_cast<int>(rect->Top()),
            static_cast<int>(rect->Width()), static_cast<int>(rect->Height()));
        if (event->region().intersects(area))
            Runtime::dispatch([&] { rect->paint(painter); });
    }
    m_drawn();
}

}
