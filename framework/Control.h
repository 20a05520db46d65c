#pragma once

#include "Design.h"
#include "Types.h"

#include <QPointer>
#include <string>

class QPainter;
class QWidget;

namespace fw {

class Window;

// Anything a window keeps in its control registry.
class Control {
public:
    explicit Control(Window& owner);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Raised once, after every control of the window exists and before the window's Open.
    virtual void Event_Open() { }

    Window& window() const { return *m_window; }
    const std::string& Name() const { return m_name; }
    Integer Index() const { return m_index; }
    void setIndex(Integer index) { m_index = index; }

private:
    friend class Window;
    Window* m_window;
    std::string m_name;
    Integer m_index = NoIndex;
};

// A control with a place on the window. Positions are in pixels from the top-left corner of
// the window's content area, whatever control it sits in. A control either has a toolkit widget
// of its own, or is windowless: the window draws it with paint(), and a change repaints no more
// than the control's own area.
class RectControl : public Control {
public:
    RectControl(Window& owner, QWidget* widget);
    explicit RectControl(Window& owner);
    ~RectControl() override;

    bool isWindowless() const { return m_windowless; }
    // Draws a windowless control; the painter's origin is the window content's top-left corner.
    virtual void paint(QPainter&) { }

    Integer Left() const;
    Integer Top() const;
    Integer Width() const;
    Integer Height() const;
    void setLeft(Integer left);
    void setTop(Integer top);
    void setWidth(Integer width);
    void setHeight(Integer height);

    bool Visible() const { return m_visible; }
    void setVisible(bool visible);
    Integer TabIndex() const { return m_tabIndex; }

    // Applies the fields every visible control shares; InitialParent names a control of the
    // same window to sit in. The lock fields are kept as designed: no window here changes
    // size once built (a full-screen one is laid out by its program).
    void applyDesign(const ControlDesign& design);

    QWidget* widget() const;

protected:
    // Asks for the control's area to be drawn again.
    void Refresh();

private:
    void place(Integer left, Integer top, Integer width, Integer height);
    void setEnabled(bool enabled);
    void setTabStop(bool tabStop);
    void setHelpTag(const std::string& text);

    QPointer<QWidget> m_widget;
    bool m_windowless = false;
    Integer m_left = 0, m_top = 0, m_width = 0, m_height = 0; // windowless only
    bool m_visible = true;
    Integer m_tabIndex = 0;
};

}
