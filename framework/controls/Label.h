#pragma once

#include "Control.h"

namespace fw {

// A line of static text. Text is shown as it stands: never read as markup.
class Label : public RectControl {
public:
    explicit Label(ControlHost& owner);

    std::string Text() const;
    void setText(const std::string& text);
    // Size in pixels; 0 is the platform's default size.
    void setTextSize(double size);
    void setBold(bool bold);

    void applyDesign(const LabelDesign& design);

private:
    void setTextAlign(Alignment align);
    void setTextColor(Color color);
    void setMultiline(bool multiline);
    void setSelectable(bool selectable);
    void setTransparent(bool transparent);
};

}
