#include "Label.h"
#include "ToolkitStyle.h"

#include <QLabel>

namespace fw {

namespace {
QLabel* label(QWidget* widget)
{
    return static_cast<QLabel*>(widget);
}
}

Label::Label(Window& owner)
    : RectControl(owner, new QLabel)
{
    label(widget())->setTextFormat(Qt::PlainText);
    setTextAlign(Alignment::Default);
}

std::string Label::Text() const
{
    return label(widget())->text().toStdString();
}

void Label::setText(const std::string& text)
{
    label(widget())->setText(QString::fromStdString(text));
}

void Label::setTextAlign(Alignment align)
{
    const Qt::Alignment horizontal = align == Alignment::Center ? Qt::AlignHCenter
        : align == Alignment::Right                             ? Qt::AlignRight
                                                                : Qt::AlignLeft;
    label(widget())->setAlignment(horizontal | Qt::AlignVCenter);
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

void Label::setItalic(bool italic)
{
    changeFont(widget(), [italic](QFont& font) { font.setItalic(italic); });
}

void Label::setUnderline(bool underline)
{
    changeFont(widget(), [underline](QFont& font) { font.setUnderline(underline); });
}

void Label::setTextFont(const std::string& family)
{
    changeFont(widget(), [&family](QFont& font) { applyTextFont(font, family); });
}

void Label::setMultiline(bool multiline)
{
    label(widget())->setWordWrap(multiline);
}

void Label::setSelectable(bool selectable)
{
    label(widget())->setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
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
    setTextFont(design.style.TextFont);
    setTextSize(design.style.TextSize);
    setBold(design.style.Bold);
    setItalic(design.style.Italic);
    setUnderline(design.style.Underline);
    setMultiline(design.Multiline);
    setSelectable(design.Selectable);
    setTransparent(design.Transparent);
}

}
