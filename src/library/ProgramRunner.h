#pragma once

#include <string>
#include <vector>

#include "platform/Result.h"

// Runs a program directly (no shell, so no argument is ever interpreted),
// found on the PATH, with standard input closed.
class ProgramRunner {
public:
    // Success when the program exits with 0 within `timeoutSeconds` (0 or
    // less: no limit); a program that overruns is killed. A failure names the
    // program and ends with the last lines it wrote to standard error.
    static platform::Status run(const std::vector<std::string>& arguments, int timeoutSeconds);
};
