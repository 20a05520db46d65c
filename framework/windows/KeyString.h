#pragma once

#include <string>

class QString;

namespace fw {

// The key string a window's Event_KeyDown receives for a key press: the text the key types,
// or a control character for keys without text (Escape 27, Return and Enter 13, Tab 9,
// Backspace 8, Delete 127, arrows 28 to 31, Home 1, End 4, Page Up 11, Page Down 12).
// A key with neither gives the empty string.
std::string keyString(int qtKey, const QString& text);

}
