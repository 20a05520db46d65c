#pragma once

#include <string>

// A failure nobody handled (Runtime::handleUnhandledFailure): no application handler runs after
// it, and its message is shown once, after the code that failed has unwound. Not for use outside
// the layer.
namespace fw {

bool failureCame();
// Takes the failure, said in `text`: false when one came before it. After a quit it is only
// reported, not shown.
bool takeFailure(const std::string& text, bool afterQuit);
// Its message box, naming the application, unless it has been shown or a termination signal
// ended the run (standard error has it; nobody waits at the screen): true when shown now.
bool showFailure(const std::string& applicationName);
// Tests: none came.
void forgetFailure();

}
