// The control registry of a window: what it holds, how a control is found, and the tab order.
#include "Control.h"
#include "base/RuntimeException.h"

#include <QWidget>
#include <algorithm>

namespace fw {

ControlHost::ControlHost(std::string className)
    : m_className(std::move(className))
{
}

ControlHost::~ControlHost() = default;

void ControlHost::dropControls()
{
    m_windowless.clear();
    m_controls.clear();
}

void ControlHost::registerControl(std::unique_ptr<Control> control, const std::string& name, Integer index)
{
    if (!control)
        throw NilObjectException("A control to add to window " + m_className + " as \"" + name + "\" was missing.");
    control->m_name = name;
    control->m_index = index;
    if (auto* rect = dynamic_cast<RectControl*>(control.get())) {
        if (rect->isWindowless())
            m_windowless.push_back(rect);
        if (QWidget* widget = rect->widget()) {
            QString objectName = QString::fromStdString(name);
            if (index != NoIndex)
                objectName += QString::number(index);
            widget->setObjectName(objectName);
        }
    }
    m_controls.push_back(std::move(control));
}

Control* ControlHost::find(const std::string& name, Integer index) const
{
    for (const auto& control : m_controls) {
        if (control->m_index == index && control->m_name == name)
            return control.get();
    }
    return nullptr;
}

void ControlHost::raiseLookupFailure(const std::string& name, Integer index, bool found) const
{
    const std::string what = index == NoIndex ? "\"" + name + "\"" : "\"" + name + "\" (" + std::to_string(index) + ")";
    if (found)
        throw TypeMismatchException("Control " + what + " of window " + m_className + " is not of the expected class.");
    throw NilObjectException("Window " + m_className + " has no control " + what + ".");
}

void ControlHost::arrangeTabOrder()
{
    std::vector<RectControl*> stops;
    for (const auto& control : m_controls) {
        auto* rect = dynamic_cast<RectControl*>(control.get());
        if (rect && rect->widget() && rect->widget()->focusPolicy() != Qt::NoFocus)
            stops.push_back(rect);
    }
    std::stable_sort(stops.begin(), stops.end(), [](auto* a, auto* b) { return a->TabIndex() < b->TabIndex(); });
    for (std::size_t i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1]->widget(), stops[i]->widget());
}

}
