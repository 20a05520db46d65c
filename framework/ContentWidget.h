#pragma once

#include "framework/Types.h"

#include <QRect>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

namespace fw {

class ControlHost;

// A window's content area: the controls' widgets sit in it, and it draws the windowless
// controls, in the order they were added, over its background; `drawn` follows each paint.
class ContentWidget : public QWidget {
public:
    ContentWidget(const ControlHost& controls, std::function<void()> drawn, QWidget* parent);

    // Fills the area with this colour before it draws anything: the toolkit then paints no
    // background of its own beneath.
    void setBackground(Color color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const ControlHost& m_controls;
    const std::function<void()> m_drawn;
    std::optional<Color> m_background;
    // The areas drawn so far in this paint; kept, with its room, from one paint to the next.
    std::vector<QRect> m_drawnAreas;
};

}
