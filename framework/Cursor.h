#pragma once

namespace fw {

enum class MouseCursor { Standard, Invisible };

namespace System::Cursors {
constexpr MouseCursor StandardPointer = MouseCursor::Standard;
constexpr MouseCursor InvisibleCursor = MouseCursor::Invisible;
}

}
