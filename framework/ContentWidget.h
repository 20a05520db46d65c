#pragma once

#include <QWidget>

namespace fw {

class Window;

// A window's content area: the controls' widgets sit in it, and it draws the windowless
// controls, in the order they were added, over its background.
class ContentWidget : public QWidget {
public:
    ContentWidget(Window& owner, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Window& m_owner;
};

}
