#pragma once

#include <QSize>

class QGraphicsView;
class QWidget;

namespace fw {

// A window's menu bar and content area turned whole, with the widgets in them (buttons, a
// picture, the bar's menus): shown through a graphics view over the window that turns their
// drawing and maps the pointer's clicks back. They keep their upright geometry; the window
// takes the turned one. Keys go to them as before, and what they leave goes on to the window.
class TurnedFrame {
public:
    TurnedFrame(QWidget& window, int degrees, QWidget* menuBar, QWidget& content);

    // The upright size of a window of this size, and the reverse (the same at 180 degrees).
    QSize upright(QSize windowSize) const { return m_turn % 180 == 0 ? windowSize : windowSize.transposed(); }
    // The view over the window, and the menu bar and the content laid out upright under it.
    void layOut(int menuBarHeight);
    // A menu bar made anew (or none) goes above the content.
    void setMenuBar(QWidget* menuBar);

private:
    QWidget& m_window;
    const int m_turn;
    QWidget* m_menuBar = nullptr;
    QWidget& m_content;
    QWidget* m_frame; // owned by the scene's proxy
    QGraphicsView* m_view;
};

}
