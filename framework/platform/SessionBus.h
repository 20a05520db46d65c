#pragma once

#include <QDBusConnection>
#include <optional>

namespace fw {

// A session bus the desktop set up, named in the environment or at its usual place.
bool haveSessionBus();
// The toolkit's connection to it (the toolkit keeps it), or none.
std::optional<QDBusConnection> sessionBus();

}
