#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Result.h"

// Remembers on disk which sink was the default output before a capture made
// the capture device the default, so that an agent that dies mid-capture can
// give the user the output back at its next start.
class DefaultOutputMemory {
public:
    // $XDG_STATE_HOME/trovario/previous-default-output (~/.local/state/... by default).
    static std::string path();
    static platform::Status remember(const std::string& sinkName);
    static std::optional<std::string> remembered();
    static void forget();

    // For the agent's start-up: when a remembered sink is on file and the
    // capture device is still the default, makes the remembered sink (or, if
    // it has gone, another sink) the default again. 0 when nothing is left to
    // do; non-zero (and the memory kept) when no sound server answered.
    static int32_t restoreAfterInterruptedCapture();
};
