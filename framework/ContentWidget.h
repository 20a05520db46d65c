#pragma once

#include <QWidget>
#include <functional>

namespace fw {

class ControlHost;

// A window's content area: the controls' widgets sit in it, and it draws the windowless
// controls, in the order they were added, over its background; `drawn` follows each paint.
class ContentWidget : public QWidget {
public:
    ContentWidget(const ControlHost& controls, std::function<void()> drawn, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const ControlHost& m_controls;
    const std::function<void()> m_drawn;
};

}
