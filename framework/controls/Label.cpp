#include "Label.h"
#include "drawing/ToolkitStyle.h"

#include <QLabel>

namespace fw {

namespace {

// A single line shows whole in the label's width: where the platform's font is wider than the
// one the window was laid out with (DejaVu Sans alone, as on a console with no desktop), the
// text is drawn a little smaller rather than cut. The font asked for is kept, so that the text
// grows back where there is room again.
class FittingLabel : public QLabel {
public:
    FittingLabel()
        : m_asked(font())
    {
    }

    const QFont& askedFont() const { return m_asked; }

    void setAskedFont(const QFont& font)
    {
        m_asked = font;
        refit();
    }

    // Measures the text where the label shows; one not on the screen yet takes the font asked
    // for and is measured once, as it shows, however many changes come before: measuring
    // loads the font, and a font that is changed again before it is seen need not be loaded.
    void refit()
    {
        if (isVisible()) {
            fit();
            return;
        }
        m_fitPending = true;
        if (m_asked != QLabel::font())
            QLabel::setFont(m_asked);
    }

    void fit()
    {
        m_fitPending = false;
        QFont font = m_asked;
        const int room = contentsRect().width();
        const bool pixels = font.pixelSize() > 0;
        const qreal size = pixels ? font.pixelSize() : font.pointSizeF();
        for (int step = 1; !wordWrap() && room > 0 && step <= 8
             && QFontMetrics(font, this).horizontalAdvance(text()) > room;
             ++step) {
            if (pixels)
                font.setPixelSize(qMax(1, qRound(size * (1 - 0.05 * step))));
            else
                font.setPointSizeF(size * (1 - 0.05 * step));
        }
        if (font != QLabel::font())
            QLabel::setFont(font);
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }
    void showEvent(QShowEvent* event) override
    {
        if (m_fitPending)
            fit();
        QLabel::showEvent(event);
    }

private:
    QFont m_asked;
    bool m_fitPending = false;
};

template <class Change>
void changeAskedFont(FittingLabel* label, Change change)
{
    QFont font = label->askedFont();
    change(font);
    label->setAskedFont(font);
}

}

Label::Label(ControlHost& owner)
    : RectControl(owner, new FittingLabel)
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
    widgetAs<FittingLabel>()->setText(QString::fromStdString(text));
    widgetAs<FittingLabel>()->refit();
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
    changeAskedFont(widgetAs<FittingLabel>(), [size](QFont& font) { applyTextSize(font, size); });
}

void Label::setBold(bool bold)
{
    changeAskedFont(widgetAs<FittingLabel>(), [bold](QFont& font) { font.setBold(bold); });
}

void Label::setMultiline(bool multiline)
{
    widgetAs<FittingLabel>()->setWordWrap(multiline);
    widgetAs<FittingLabel>()->refit();
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
    changeAskedFont(widgetAs<FittingLabel>(), [&design](QFont& font) { applyTextStyle(font, design.style); });
    setMultiline(design.Multiline);
    setSelectable(design.Selectable);
    setTransparent(design.Transparent);
}

}
