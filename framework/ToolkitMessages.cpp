// The toolkit ends the process with abort() when it cannot start at all (no display to
// connect to): say so plainly and end with a failure status instead of a core dump.
#include "Runtime.h"
#include "RuntimeState.h"

#include <cstdio>
#include <cstdlib>

namespace fw {

namespace {

QtMessageHandler s_defaultHandler = nullptr;

void onToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s: cannot go on: %s\n", runtimeState().programName.c_str(), qPrintable(message));
        std::fflush(stderr);
        std::_Exit(CannotStartStatus);
    }
    if (s_defaultHandler)
        s_defaultHandler(type, context, message);
}

}

void watchToolkitMessages()
{
    s_defaultHandler = qInstallMessageHandler(onToolkitMessage);
}

}
