#include "Control.h"
#include "ContentWidget.h"
#include "runtime/RefreshBatch.h"
#include "base/RuntimeException.h"

#include <QWidget>
#include <algorithm>

namespace fw {

namespace {

// The windowless controls shown or hidden by the handlers running now (RefreshBatch). The list
// keeps its room from one handler to the next: a tick allocates nothing.
std::vector<RectControl*>& refreshQueue()
{
    static auto* queue = [] {
        auto* made = new std::vector<RectControl*>;
        made->reserve(64);
        return made;
    }();
    return *queue;
}

}

Control::Control(ControlHost& owner)
    : m_window(&owner)
{
}

Control::~Control() = default;

RectControl::RectControl(ControlHost& owner, QWidget* widget)
    : Control(owner)
    , m_widget(widget)
{
    widget->setParent(owner.contentWidget());
}

RectControl::RectControl(ControlHost& owner)
    : Control(owner)
    , m_windowless(true)
{
}

void RectControl::refreshQueued()
{
    auto& queue = refreshQueue();
    for (std::size_t i = 0; i < queue.size(); ++i) {
        RectControl* control = queue[i];
        control->m_refreshQueued = false;
        if (control->m_visible != control->m_shownVisible)
            control->Refresh();
    }
    queue.clear();
}

RectControl::~RectControl()
{
    if (m_refreshQueued) {
        auto& queue = refreshQueue();
        queue.erase(std::find(queue.begin(), queue.end(), this));
    }
    if (m_windowless && shownOnScreen())
        Refresh();
    delete m_widget.data();
}

void RectControl::refreshWhenHandled()
{
    if (!RefreshBatch::open()) {
        Refresh();
        return;
    }
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    m_shownVisible = !m_visible;
    refreshQueue().push_back(this);
    RefreshBatch::drawWaitingWith(refreshQueued);
}

void RectControl::Refresh()
{
    if (!m_windowless) {
        m_widget->update();
        return;
    }
    if (QWidget* host = window().contentWidget()) {
        static_cast<ContentWidget*>(host)->updateUpright(QRect(static_cast<int>(m_left), static_cast<int>(m_top),
            static_cast<int>(m_width), static_cast<int>(m_height)));
    }
}

namespace {
// Where the widget's parent lies in window content coordinates.
QPoint parentOrigin(const QWidget* widget, const QWidget* content)
{
    const QWidget* parent = widget->parentWidget();
    return parent && parent != content ? parent->mapTo(content, QPoint(0, 0)) : QPoint(0, 0);
}
}

Integer RectControl::Left() const
{
    if (m_windowless)
        return m_left;
    return m_widget->x() + parentOrigin(m_widget, window().contentWidget()).x();
}

Integer RectControl::Top() const
{
    if (m_windowless)
        return m_top;
    return m_widget->y() + parentOrigin(m_widget, window().contentWidget()).y();
}

Integer RectControl::Width() const
{
    return m_windowless ? m_width : m_widget->width();
}

Integer RectControl::Height() const
{
    return m_windowless ? m_height : m_widget->height();
}

void RectControl::place(Integer left, Integer top, Integer width, Integer height)
{
    width = std::max<Integer>(width, 0);
    height = std::max<Integer>(height, 0);
    if (m_windowless) {
        if (left == m_left && top == m_top && width == m_width && height == m_height)
            return;
        if (shownOnScreen())
            Refresh();
        m_left = left, m_top = top, m_width = width, m_height = height;
        // Shown or hidden by the handler running now: the screen shows nothing of it at its new
        // place yet, so the end of the handler draws it there if it is to be seen.
        if (m_refreshQueued)
            m_shownVisible = false;
        else if (m_visible)
            Refresh();
        return;
    }
    const QPoint origin = parentOrigin(m_widget, window().contentWidget());
    m_widget->setGeometry(static_cast<int>(left - origin.x()), static_cast<int>(top - origin.y()),
        static_cast<int>(std::max<Integer>(width, 0)), static_cast<int>(std::max<Integer>(height, 0)));
}

void RectControl::setLeft(Integer left)
{
    place(left, Top(), Width(), Height());
}

void RectControl::setTop(Integer top)
{
    place(Left(), top, Width(), Height());
}

void RectControl::setWidth(Integer width)
{
    place(Left(), Top(), width, Height());
}

void RectControl::setHeight(Integer height)
{
    place(Left(), Top(), Width(), height);
}

void RectControl::setVisible(bool visible)
{
    if (m_windowless) {
        if (visible != m_visible) {
            m_visible = visible;
            refreshWhenHandled();
        }
        return;
    }
    m_visible = visible;
    m_widget->setVisible(visible);
}

void RectControl::setEnabled(bool enabled)
{
    if (!m_windowless)
        m_widget->setEnabled(enabled);
}

void RectControl::setTabStop(bool tabStop)
{
    if (!m_windowless && !tabStop && m_widget->focusPolicy() != Qt::NoFocus)
        m_widget->setFocusPolicy(Qt::ClickFocus);
}

void RectControl::setHelpTag(const std::string& text)
{
    if (!m_windowless)
        m_widget->setToolTip(QString::fromStdString(text));
}

void RectControl::applyDesign(const ControlDesign& design)
{
    if (design.InitialParent && *design.InitialParent) {
        auto* parent = dynamic_cast<RectControl*>(window().ControlByName(design.InitialParent));
        if (!parent || !parent->widget())
            throw NilObjectException("Window " + window().className() + " has no control \""
                + design.InitialParent + "\" to place \"" + Name() + "\" in.");
        if (!m_windowless)
            m_widget->setParent(parent->widget());
    }
    place(design.Left, design.Top, design.Width, design.Height);
    m_tabIndex = design.TabIndex;
    setTabStop(design.TabStop);
    setEnabled(design.Enabled);
    setHelpTag(design.HelpTag ? design.HelpTag : "");
    setVisible(design.Visible);
}

QWidget* RectControl::widget() const
{
    return m_widget.data();
}

}
