#pragma once

#include <chrono>

namespace platform {

// Seconds between the Unix epoch and the reference date, 1 January 2001 00:00:00 UTC.
inline constexpr double kReferenceDateUnixSeconds = 978307200.0;

// The clock time: seconds since the reference date, as clock times are
// exchanged with the editor.
inline double absoluteTime() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateUnixSeconds;
}

}  // namespace platform
