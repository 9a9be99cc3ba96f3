#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"

// Runs a program directly (no shell, so no argument is ever interpreted),
// found on the PATH, with its output discarded. Every program the agent
// starts goes through here: the conversion, the delivery command and the
// player's script.
class ProgramRunner {
public:
    // Success when the program exits with 0 within `timeoutSeconds` (0 or
    // less: no limit); a program that overruns is killed. `input` is written
    // to its standard input, which then closes (at once when empty). A
    // failure names the program and ends with the last lines it wrote to
    // standard error.
    static platform::Status run(const std::vector<std::string>& arguments, int timeoutSeconds,
                                std::string_view input = {});
};
