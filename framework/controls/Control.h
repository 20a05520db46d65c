#pragma once

#include "../base/Design.h"
#include "../base/Types.h"

#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPainter;
class QTransform;
class QWidget;

namespace fw {

class ControlHost;

// Anything a window keeps in its control registry.
class Control {
public:
    explicit Control(ControlHost& owner);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Raised once, after every control of the window exists and before the window's Open.
    virtual void Event_Open() { }

    ControlHost& window() const { return *m_window; }
    const std::string& Name() const { return m_name; }
    Integer Index() const { return m_index; }
    void setIndex(Integer index) { m_index = index; }

private:
    friend class ControlHost;
    ControlHost* m_window;
    std::string m_name;
    Integer m_index = NoIndex;
};

// A control with a place on the window. Positions are in pixels from the top-left corner of
// the window's content area, whatever control it sits in. A control either has a toolkit widget
// of its own, or is windowless: the window draws it with paint(), and a change repaints no more
// than the control's own area.
class RectControl : public Control {
public:
    RectControl(ControlHost& owner, QWidget* widget);
    explicit RectControl(ControlHost& owner);
    ~RectControl() override;

    bool isWindowless() const { return m_windowless; }
    // Draws a windowless control; the painter's origin is the window content's top-left corner.
    // `beneath` is the one opaque colour that the whole of the control's area shows before it
    // is drawn, where the layer knows it: what would be drawn in that colour need not be.
    virtual void paint(QPainter&, const QTransform& /*toScreen*/, std::optional<Color> /*beneath*/) { }

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
    // The control's widget as the toolkit class it was made of.
    template <class W>
    W* widgetAs() const
    {
        return static_cast<W*>(widget());
    }

private:
    // Draws again each control queued since, where it differs from what the screen shows.
    static void refreshQueued();
    // A windowless control shown or hidden while a handler runs is drawn again once, when the
    // handler is done, and only if it then differs from what the screen shows.
    void refreshWhenHandled();
    bool shownOnScreen() const { return m_refreshQueued ? m_shownVisible : m_visible; }
    void place(Integer left, Integer top, Integer width, Integer height);
    void setEnabled(bool enabled);
    void setTabStop(bool tabStop);
    void setHelpTag(const std::string& text);

    QPointer<QWidget> m_widget;
    bool m_windowless = false;
    Integer m_left = 0, m_top = 0, m_width = 0, m_height = 0; // windowless only
    bool m_visible = true;
    bool m_refreshQueued = false;
    bool m_shownVisible = true; // while queued: whether the screen shows the control where it is
    Integer m_tabIndex = 0;
};

// A window as its controls see it: the content area their widgets sit in, the window's own
// widget, which takes their shortcuts, and the registry that holds them by name, or by name and
// index for the elements of a control array.
class ControlHost {
public:
    explicit ControlHost(std::string className);
    virtual ~ControlHost();
    ControlHost(const ControlHost&) = delete;
    ControlHost& operator=(const ControlHost&) = delete;

    const std::string& className() const { return m_className; }
    virtual QWidget* widget() const = 0;
    virtual QWidget* contentWidget() const = 0;

    template <class C>
    C& AddControl(std::unique_ptr<C> control, const std::string& name, Integer index = NoIndex)
    {
        C& added = *control;
        registerControl(std::move(control), name, index);
        return added;
    }
    Control* ControlByName(const std::string& name) const { return find(name, NoIndex); }
    Control* ControlByNameIndex(const std::string& name, Integer index) const { return find(name, index); }
    const std::vector<std::unique_ptr<Control>>& controls() const { return m_controls; }
    // The controls the window draws itself, in the order they were added.
    const std::vector<RectControl*>& windowlessControls() const { return m_windowless; }

    // Looks a control (or with an index, an element of a control array) up anew and checks
    // its class; a missing control raises NilObjectException, one of another class
    // TypeMismatchException.
    template <class C>
    C& control(const std::string& name, Integer index = NoIndex) const
    {
        Control* found = find(name, index);
        if (auto* typed = dynamic_cast<C*>(found))
            return *typed;
        raiseLookupFailure(name, index, found != nullptr);
    }

protected:
    // Tab moves between the controls that take the focus in the order of their TabIndex.
    void arrangeTabOrder();
    // Deletes every control, while the window's widgets still exist.
    void dropControls();

private:
    Control* find(const std::string& name, Integer index) const;
    void registerControl(std::unique_ptr<Control> control, const std::string& name, Integer index);
    [[noreturn]] void raiseLookupFailure(const std::string& name, Integer index, bool found) const;

    std::string m_className;
    std::vector<std::unique_ptr<Control>> m_controls;
    std::vector<RectControl*> m_windowless;
};

}
