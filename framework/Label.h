#pragma once

#include "Control.h"

namespace fw {

// A line of static text. Text is shown as it stands: never read as markup.
class Label : public RectControl {
public:
    explicit Label(Window& owner);

    std::string Text() const;
    void setText(const std::string& text);
    void setTextAlign(Alignment align);
    Alignment textAlign() const { return m_align; }
    void setTextColor(Color color);
    Color TextColor() const { return m_color; }
    // Size in pixels; 0 is the platform's default size.
    void setTextSize(double size);
    double TextSize() const { return m_size; }
    void setBold(bool bold);
    bool Bold() const;
    void setItalic(bool italic);
    void setUnderline(bool underline);
    void setTextFont(const std::string& family);
    void setMultiline(bool multiline);
    void setSelectable(bool selectable);
    void setTransparent(bool transparent);

    void applyDesign(const LabelDesign& design);

private:
    Alignment m_align = Alignment::Default;
    Color m_color = RGB(0, 0, 0);
    double m_size = 0;
};

}
