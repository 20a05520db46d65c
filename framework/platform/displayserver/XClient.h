#pragma once

#include <xcb/xcb.h>

// The toolkit's own X connection, asked only with waits that end: a server that does not
// answer in time is taken as one that has nothing to say.
namespace fw::platform {

// The toolkit's connection, or nullptr off X.
xcb_connection_t* xConnection();
// Waits for the reply to the request numbered `sequence`, at most half a second; nullptr if
// none came (or an error did). The caller frees what it gets.
void* xReply(xcb_connection_t* connection, unsigned int sequence);
// Whether a window manager that keeps to the desktop's conventions runs on the display.
bool windowManagerRuns();

}
