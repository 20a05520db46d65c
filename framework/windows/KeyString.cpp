#include "KeyString.h"

#include <QString>

namespace fw {

std::string keyString(int qtKey, const QString& text)
{
    switch (qtKey) {
    case Qt::Key_Escape: return "\x1b";
    case Qt::Key_Return:
    case Qt::Key_Enter: return "\r";
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return "\t";
    case Qt::Key_Backspace: return "\b";
    case Qt::Key_Delete: return "\x7f";
    case Qt::Key_Left: return "\x1c";
    case Qt::Key_Right: return "\x1d";
    case Qt::Key_Up: return "\x1e";
    case Qt::Key_Down: return "\x1f";
    case Qt::Key_Home: return "\x01";
    case Qt::Key_End: return "\x04";
    case Qt::Key_PageUp: return "\x0b";
    case Qt::Key_PageDown: return "\x0c";
    default: return text.toStdString();
    }
}

}
