#pragma once

#include <string>

#include "platform/Result.h"

// Installs the capture device: the null sink "Trovario Capture Support"
// (sink trovario_capture) of the sound server.
class CaptureDeviceInstaller {
public:
    // Loads the sink into the running server unless it is there already. With
    // `persist`, also writes the user's server configuration so that every
    // later start of the server loads it: ~/.config/pulse/default.pa for
    // PulseAudio (created as an include of the system script when absent),
    // ~/.config/pipewire/pipewire-pulse.conf.d/trovario-capture.conf for
    // PipeWire. The value tells the user what was done; a failure says what
    // went wrong and what to do.
    static platform::Result<std::string> installCaptureDevice(bool persist);

    // The module arguments, quoted for the server's command parser.
    static std::string moduleArguments();
    // Where `persist` writes for the given kind of server.
    static std::string persistentConfigPath(bool pipewire);
    // Writes (or completes) that configuration; value and failure as above.
    static platform::Result<std::string> writePersistentConfig(bool pipewire);
};
