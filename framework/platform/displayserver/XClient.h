#pragma once

#include <xcb/xcb.h>

// The toolkit's own X connection, asked only with waits that end: a server that does not
// answer in time is taken as one that has nothing to say.
namespace fw::platform {

// The toolkit's connection, or nullptr off X.
xcb_connection_t* xConnection();
// Sends what is still buffered and waits for the reply to the request numbered `sequence`, at
// most half a second (or as long as given); nullptr if none came (or an error did). The caller
// frees what it gets.
void* xReply(xcb_connection_t* connection, unsigned int sequence, int milliseconds = 500);
// An extension of the server's, asked without a wait that has no end: a server that does not
// answer in time has not answered. The connection keeps the answer: asked again, only a probe
// goes to the server.
enum class XExtension { Unanswered, Absent, Present };
XExtension xExtension(xcb_connection_t* connection, xcb_extension_t* extension);
// Whether a window manager that keeps to the desktop's conventions runs on the display.
bool windowManagerRuns();

}
