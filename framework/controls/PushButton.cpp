#include "PushButton.h"
#include "drawing/ToolkitStyle.h"
#include "runtime/Runtime.h"

#include <QPushButton>
#include <QShortcut>

namespace fw {

PushButton::PushButton(ControlHost& owner)
    : RectControl(owner, new QPushButton)
{
    widget()->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(widgetAs<QPushButton>(), &QPushButton::clicked, widget(), [this] { Push(); });
}

std::string PushButton::Caption() const
{
    return widgetAs<QPushButton>()->text().toStdString();
}

void PushButton::setCaption(const std::string& caption)
{
    widgetAs<QPushButton>()->setText(QString::fromStdString(caption));
}

void PushButton::Push()
{
    if (!widget()->isEnabled())
        return;
    Runtime::dispatch([this] {
        if (m_action)
            m_action(*this);
    });
}

PushButton::~PushButton()
{
    setDefault(false);
    setCancel(false);
}

QObject* PushButton::windowKey(int key)
{
    // A shortcut on the window takes the key before the focused control sees it.
    auto* shortcut = new QShortcut(QKeySequence(key), window().widget());
    QObject::connect(shortcut, &QShortcut::activated, widget(), [this] { Push(); });
    return shortcut;
}

void PushButton::setDefault(bool isDefault)
{
    if (widget())
        widgetAs<QPushButton>()->setDefault(isDefault);
    for (QObject* key : m_defaultKeys)
        delete key;
    m_defaultKeys.clear();
    if (isDefault)
        m_defaultKeys = { windowKey(Qt::Key_Return), windowKey(Qt::Key_Enter) };
}

void PushButton::setCancel(bool isCancel)
{
    delete m_cancelKey;
    m_cancelKey = isCancel ? windowKey(Qt::Key_Escape) : nullptr;
}

void PushButton::applyDesign(const PushButtonDesign& design)
{
    RectControl::applyDesign(design.control);
    setCaption(design.Caption);
    changeFont(widget(), [&design](QFont& font) { applyTextStyle(font, design.style); });
    setDefault(design.Default);
    setCancel(design.Cancel);
}

}
