#pragma once

#include <string>

namespace fw {

// The name the program was started by (its file's), for its lines on standard error.
const char* programName();
// One line on standard error, after the program's name: "name: line".
void sayLine(const std::string& line);

}
