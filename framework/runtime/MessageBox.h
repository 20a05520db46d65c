#pragma once

#include <functional>
#include <string>

namespace fw {

// Shows a modal message and returns when the user dismisses it.
void MsgBox(const std::string& text);

class MessageBox {
public:
    // Tests see the texts instead of a modal box; an empty function restores the real box.
    using Interceptor = std::function<void(const std::string&)>;
    static void setInterceptor(Interceptor interceptor);
};

}
