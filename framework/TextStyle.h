#pragma once

#include <QFont>
#include <string>

namespace fw {

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

}
