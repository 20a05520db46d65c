#include "Label.h"
#include "TextStyle.h"

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
    m_align = align;
    const Qt::Alignment horizontal = align == Alignment::Center ? Qt::AlignHCenter
        : align == Alignment::Right                             ? Qt::AlignRight
                                                                : Qt::AlignLeft;
    label(widget())->setAlignment(horizontal | Qt::AlignVCenter);
}

void Label::setTextColor(Color color)
{
    m_color = color;
    QPalette palette = widget()->palette();
    palette.setColor(QPalette::WindowText, QColor(color.red, color.green, color.blue, 255 - color.alpha));
    widget()->setPalette(palette);
}

void Label::setTextSize(double size)
{
    m_size = size;
    QFont font = widget()->font();
    applyTextSize(font, size);
    widget()->setFont(font);
}

void Label::setBold(bool bold)
{
    QFont font = widget()->font();
    font.setBold(bold);
    widget()->setFont(font);
}

bool Label::Bold() const
{
    return widget()->font().bold();
}

void Label::setItalic(bool italic)
{
    QFont font = widget()->font();
    font.setItalic(italic);
    widget()->setFont(font);
}

void Label::setUnderline(bool underline)
{
    QFont font = widget()->font();
    font.setUnderline(underline);
    widget()->setFont(font);
}

void Label::setTextFont(const std::string& family)
{
    QFont font = widget()->font();
    applyTextFont(font, family);
    widget()->setFont(font);
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
