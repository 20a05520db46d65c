#include "StandardError.h"

#include <cerrno>
#include <cstdio>

namespace fw {

const char* programName()
{
    return program_invocation_short_name;
}

void sayLine(const std::string& line)
{
    std::fprintf(stderr, "%s: %s\n", programName(), line.c_str());
    std::fflush(stderr);
}

}
