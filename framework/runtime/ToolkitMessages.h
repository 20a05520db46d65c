#pragma once

#include <string>

// The toolkit's messages: watched from bring-up, its warnings held back until it has started.
namespace fw {

// Where no display can be reached (none when `onConsole`), the one line said advises
// `noDisplayAdvice`.
void watchToolkitMessages(bool onConsole, const std::string& noDisplayAdvice);
void toolkitStarted();

}
