#include "ContentWidget.h"
#include "Runtime.h"
#include "Window.h"
#include "WindowWidget.h"

#include <QPaintEvent>
#include <QPainter>

namespace fw {

ContentWidget::ContentWidget(Window& owner, QWidget* parent)
    : QWidget(parent)
    , m_owner(owner)
{
}

void ContentWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    for (RectControl* rect : m_owner.windowlessControls()) {
        if (!rect->Visible())
            continue;
        const QRect area(static_cast<int>(rect->Left()), static_cast<int>(rect->Top()),
            static_cast<int>(rect->Width()), static_cast<int>(rect->Height()));
        if (event->region().intersects(area))
            Runtime::dispatch([&] { rect->paint(painter); });
    }
    static_cast<WindowWidget*>(window())->contentDrawn();
}

}
