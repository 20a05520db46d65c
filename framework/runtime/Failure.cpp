#include "Failure.h"
#include "MessageBox.h"
#include "TerminationSignals.h"

namespace fw {

namespace {

struct Failure {
    bool came = false;
    bool shown = false;
    std::string text;
};

Failure s_failure;

}

bool failureCame()
{
    return s_failure.came;
}

bool takeFailure(const std::string& text, bool afterQuit)
{
    if (s_failure.came)
        return false;
    s_failure = { .came = true, .shown = afterQuit, .text = text };
    return true;
}

bool showFailure(const std::string& applicationName)
{
    if (!s_failure.came || s_failure.shown || endedBySignal())
        return false;
    s_failure.shown = true;
    try {
        MsgBox(applicationName + " has met a problem it cannot recover from and will close.\n\n" + s_failure.text);
    } catch (...) {
    }
    return true;
}

void forgetFailure()
{
    s_failure = {};
}

}
