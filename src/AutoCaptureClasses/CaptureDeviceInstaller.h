#pragma once

#include <cstdint>
#include <string>

// Installs the capture device: the null sink "Trovario Capture Support"
// (sink trovario_capture) of the sound server.
class CaptureDeviceInstaller {
public:
    static constexpr int32_t kInstalled = 0;
    static constexpr int32_t kNoSoundServer = 1;
    static constexpr int32_t kLoadFailed = 2;
    static constexpr int32_t kPersistFailed = 3;

    // Loads the sink into the running server unless it is there already. With
    // `persist`, also writes the user's server configuration so that every
    // later start of the server loads it: ~/.config/pulse/default.pa for
    // PulseAudio (created as an include of the system script when absent),
    // ~/.config/pipewire/pipewire-pulse.conf.d/trovario-capture.conf for
    // PipeWire. `message` tells the user what happened and what to do.
    static int32_t installCaptureDevice(bool persist, std::string& message);

    // The module arguments, quoted for the server's command parser.
    static std::string moduleArguments();
    // Where `persist` writes for the given kind of server.
    static std::string persistentConfigPath(bool pipewire);
    // Writes (or completes) that configuration; `message` as above.
    static int32_t writePersistentConfig(bool pipewire, std::string& message);
};
