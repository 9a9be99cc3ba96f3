#pragma once

#include <string>

// The global name of the capture device the recorder records from.
inline constexpr char CAPTURE_DEVICE_NAME[] = "Trovario Capture Support";

class MySystemCaptureRecorder {
public:
    // Whether the capture device exists in a running sound server. Logs one
    // line whenever the answer (or the reason for "no") changes, so a caller
    // that polls does not flood the log.
    static bool isAvailable();
};
