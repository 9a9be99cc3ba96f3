#pragma once

#include <functional>

namespace platform {

// From now on SIGTERM and SIGINT no longer end the process at once: each
// calls `handler` (with the signal number) on the main loop, which can then
// end the process cleanly.
void handleTerminationSignals(std::function<void(int signal)> handler);

}  // namespace platform
