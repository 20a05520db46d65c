#pragma once

#include <QDBusConnection>
#include <optional>

namespace fw::platform {

// A session bus the desktop set up, named in the environment or at its usual place.
bool haveSessionBus();
// Before the toolkit starts: no session bus is asked for unless one runs.
void useOnlyARunningSessionBus();
// The toolkit's connection to it (the toolkit keeps it), or none.
std::optional<QDBusConnection> sessionBus();

}
