#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Result.h"

class CaptureLock;

// Remembers on disk which sink was the default output before a capture made
// the capture device the default, so that the user gets the output back after
// a capture that died: from the agent, as soon as the dead recorder's capture
// lock is let go, or at the agent's next start.
class DefaultOutputMemory {
public:
    // $XDG_STATE_HOME/trovario/previous-default-output (~/.local/state/... by default).
    static std::string path();
    static platform::Status remember(const std::string& sinkName);
    static std::optional<std::string> remembered();
    static void forget();

    // For the agent, at its start and whenever a recorder lets go of the
    // capture lock: when a remembered sink is on file and the capture device
    // is still the default, makes the remembered sink (or, if it has gone,
    // another sink) the default again. Does nothing while a live recorder
    // holds the capture lock, and holds it shared while it restores, so that
    // no recorder starts in the middle. 0 when nothing is left to do here;
    // non-zero (and the memory kept) when no sound server answered.
    static int32_t restoreAfterInterruptedCapture();
    // The same for the recorder that holds the lock, before its own switch.
    static int32_t restoreAfterInterruptedCapture(const CaptureLock& held);
};
