#pragma once

// The layer's colours and text styles in the toolkit's terms. Not for use outside the layer.
#include "base/Design.h"
#include "base/Types.h"

#include <QColor>
#include <QFont>
#include <QWidget>
#include <string>

namespace fw {

// The layer's alpha counts transparency (0 opaque); the toolkit's counts opacity.
inline QColor toQColor(Color c)
{
    return QColor(c.red, c.green, c.blue, 255 - c.alpha);
}

// "System" and the empty name keep the platform's font; size 0 keeps its default size.
inline void applyTextFont(QFont& font, const std::string& family)
{
    if (!family.empty() && family != "System")
        font.setFamily(QString::fromStdString(family));
}

inline void applyTextSize(QFont& font, double size)
{
    if (size > 0)
        font.setPixelSize(static_cast<int>(size + 0.5));
}

inline void applyTextStyle(QFont& font, const TextStyle& style)
{
    applyTextFont(font, style.TextFont);
    applyTextSize(font, style.TextSize);
    font.setBold(style.Bold);
    font.setItalic(style.Italic);
    font.setUnderline(style.Underline);
}

// A widget's font can only be replaced whole: read it, change it, set it back.
template <class Change>
void changeFont(QWidget* widget, Change change)
{
    QFont font = widget->font();
    change(font);
    widget->setFont(font);
}

}
