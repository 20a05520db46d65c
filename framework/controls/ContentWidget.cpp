#include "ContentWidget.h"
#include "Control.h"
#include "drawing/ToolkitStyle.h"
#include "runtime/Runtime.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace fw {

ContentWidget::ContentWidget(const ControlHost& controls, std::function<void()> drawn, QWidget* parent)
    : QWidget(parent)
    , m_controls(controls)
    , m_drawn(std::move(drawn))
{
}

void ContentWidget::setBackground(Color color)
{
    m_background = color;
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ContentWidget::setTurn(int degrees)
{
    m_turn = degrees;
    resizeEvent(nullptr);
    update();
}

QSize ContentWidget::uprightSize() const
{
    return m_turn % 180 == 0 ? size() : size().transposed();
}

void ContentWidget::updateUpright(const QRect& area)
{
    update(m_toScreen.mapRect(area));
}

void ContentWidget::resizeEvent(QResizeEvent* event)
{
    if (event)
        QWidget::resizeEvent(event);
    // Whole quarter turns, which map every upright rectangle onto one of the widget's exactly.
    const int w = width(), h = height();
    switch (m_turn) {
    case 90:
        m_toScreen = QTransform(0, 1, -1, 0, w, 0);
        break;
    case 180:
        m_toScreen = QTransform(-1, 0, 0, -1, w, h);
        break;
    case 270:
        m_toScreen = QTransform(0, -1, 1, 0, 0, h);
        break;
    default:
        m_toScreen = QTransform();
    }
}

void ContentWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    // Only an opaque background is known to be what every control's area shows beneath it.
    std::optional<Color> beneathEveryControl;
    // Each fill within a clip of one rectangle: against the region's clip the toolkit fills line
    // by line through its clipping, which costs more per line than the line's pixels do (a board
    // turned on its side has three times the lines); within a rectangle it fills directly.
    if (m_background) {
        const QColor background = toQColor(*m_background);
        for (const QRect& part : event->region()) {
            painter.setClipRect(part);
            painter.fillRect(part, background);
        }
        if (m_background->alpha == 0)
            beneathEveryControl = m_background;
    }
    m_drawnAreas.clear();
    for (RectControl* rect : m_controls.windowlessControls()) {
        if (!rect->Visible())
            continue;
        const QRect area = m_toScreen.mapRect(QRect(static_cast<int>(rect->Left()), static_cast<int>(rect->Top()),
            static_cast<int>(rect->Width()), static_cast<int>(rect->Height())));
        if (!event->region().intersects(area))
            continue;
        const bool onBackground = beneathEveryControl
            && std::none_of(m_drawnAreas.begin(), m_drawnAreas.end(), [&](const QRect& drawn) { return drawn.intersects(area); });
        painter.setClipRect(area);
        Runtime::dispatch([&] { rect->paint(painter, m_toScreen, onBackground ? beneathEveryControl : std::nullopt); });
        m_drawnAreas.push_back(area);
    }
    m_drawn();
}

}
