#include "framework/Label.h"
#include "ToolkitStyle.h"

#include <QLabel>

namespace fw {

Label::Label(ControlHost& owner)
    : RectControl(owner, new QLabel)
{
    widgetAs<QLabel>()->setTextFormat(Qt::PlainText);
    setTextAlign(Alignment::Default);
}

std::string Label::Text() const
{
    return widgetAs<QLabel>()->text().toStdString();
}

void Label::setText(const std::string& text)
{
    widgetAs<QLabel>()->setText(QString::fromStdString(text));
}

void Label::setTextAlign(Alignment align)
{
    const Qt::Alignment horizontal = align == Alignment::Center ? Qt::AlignHCenter
        : align == Alignment::Right                             ? Qt::AlignRight
                                                                : Qt::AlignLeft;
    widgetAs<QLabel>()->setAlignment(horizontal | Qt::AlignVCenter);
}

void Label::setTextColor(Color color)
{
    QPalette palette = widget()->palette();
    palette.setColor(QPalette::WindowText, toQColor(color));
    widget()->setPalette(palette);
}

void Label::setTextSize(double size)
{
    changeFont(widget(), [size](QFont& font) { applyTextSize(font, size); });
}

void Label::setBold(bool bold)
{
    changeFont(widget(), [bold](QFont& font) { font.setBold(bold); });
}

void Label::setMultiline(bool multiline)
{
    widgetAs<QLabel>()->setWordWrap(multiline);
}

void Label::setSelectable(bool selectable)
{
    widgetAs<QLabel>()->setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
}

void Label::setTransparent(bool transparent)
{
    widget()->setAutoFillBackground(!transparent);
}

void Label::applyDesign(const LabelDesign& design)
{
    RectControl::applyDesign(design.control);
    widget()->setFocusPolicy(Qt::NoFocus);
    setText(design.Text);
    setTextAlign(design.TextAlign);
    setTextColor(design.TextColor);
    changeFont(widget(), [&design](QFont& font) { applyTextStyle(font, design.style); });
    setMultiline(design.Multiline);
    setSelectable(design.Selectable);
    setTransparent(design.Transparent);
}

}
