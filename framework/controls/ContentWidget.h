#pragma once

#include "base/Types.h"

#include <QRect>
#include <QTransform>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

namespace fw {

class ControlHost;

// A window's content area: the controls' widgets sit in it, and it draws the windowless
// controls, in the order they were added, over its background; `drawn` follows each paint.
// Turned (for a screen mounted on its side or upside down), it draws them that many degrees
// clockwise: they are laid out upright, in an area whose width and height are swapped at 90
// and 270 degrees.
class ContentWidget : public QWidget {
public:
    ContentWidget(const ControlHost& controls, std::function<void()> drawn, QWidget* parent);

    // Fills the area with this colour before it draws anything: the toolkit then paints no
    // background of its own beneath.
    void setBackground(Color color);
    // 0, 90, 180 or 270 degrees.
    void setTurn(int degrees);
    // The area as the controls are laid out in it, upright.
    QSize uprightSize() const;
    // Draws anew what lies in this area of the upright layout.
    void updateUpright(const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const ControlHost& m_controls;
    const std::function<void()> m_drawn;
    std::optional<Color> m_background;
    int m_turn = 0;
    QTransform m_toScreen; // from the upright layout to the widget's own coordinates
    // The areas drawn so far in this paint; kept, with its room, from one paint to the next.
    std::vector<QRect> m_drawnAreas;
};

}
