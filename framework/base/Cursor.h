#pragma once

namespace fw {

enum class MouseCursor { Standard, Invisible };

namespace System::Cursors {
constexpr MouseCursor InvisibleCursor = MouseCursor::Invisible;
}

}
