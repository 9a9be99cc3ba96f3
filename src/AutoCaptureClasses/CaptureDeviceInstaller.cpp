#include "AutoCaptureClasses/CaptureDeviceInstaller.h"

#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/RegularFile.h"
#include "platform/ServiceNames.h"
#include "platform/SoundServer.h"

namespace {

constexpr char kPulseSystemScript[] = "/etc/pulse/default.pa";

// A sound server script is a few kilobytes; anything larger is not one.
constexpr size_t kLargestScript = 1 << 20;

std::string pulseScriptBlock() {
    return "\n### Trovario capture device\n.nofail\nload-module module-null-sink " +
           CaptureDeviceInstaller::moduleArguments() + "\n.fail\n";
}

std::string pipewireFragment() {
    std::string arguments;
    for (char c : CaptureDeviceInstaller::moduleArguments()) arguments += c == '"' ? std::string("\\\"") : std::string(1, c);
    return "# Trovario capture device\npulse.cmd = [\n    { cmd = \"load-module\" args = \"module-null-sink " +
           arguments + "\" flags = [ \"nofail\" ] }\n]\n";
}

std::string configText(bool pipewire, const std::string& existing, bool exists) {
    if (pipewire) return pipewireFragment();
    // A user script replaces the system one; a new one must include it.
    std::string head = exists ? existing : std::string(".include ") + kPulseSystemScript + "\n";
    if (!head.empty() && head.back() != '\n') head += '\n';
    return head + pulseScriptBlock();
}

}  // namespace

std::string CaptureDeviceInstaller::moduleArguments() {
    return std::string("sink_name=") + platform::kCaptureSinkName + " sink_properties=\"device.description='" +
           platform::kCaptureSinkDescription + "'\"";
}

std::string CaptureDeviceInstaller::persistentConfigPath(bool pipewire) {
    std::string config = platform::userConfigDirectory();
    return pipewire ? config + "/pipewire/pipewire-pulse.conf.d/trovario-capture.conf"
                    : config + "/pulse/default.pa";
}

platform::Result<std::string> CaptureDeviceInstaller::writePersistentConfig(bool pipewire) {
    std::string path = persistentConfigPath(pipewire);
    std::error_code error;
    if (std::filesystem::is_symlink(path, error)) path = std::filesystem::canonical(path, error).string();
    const bool exists = std::filesystem::exists(path, error);
    std::string existing;
    if (exists) {
        platform::Result<std::string> text = platform::readRegularFile(path, kLargestScript);
        if (!text)
            return platform::Status::failure("Could not read the sound server configuration " + path + ": " +
                                             text.message() + ". Move it aside and try again.");
        existing = std::move(*text);
    }
    if (exists && existing.find(std::string("sink_name=") + platform::kCaptureSinkName) != std::string::npos)
        return "The sound server configuration " + path + " already loads the capture device.";
    // Replaced as a whole, so that a crash never leaves the server a half-written script.
    if (!platform::createDirectories(std::filesystem::path(path).parent_path().string()) ||
        !platform::writeFileAtomically(path, configText(pipewire, existing, exists), 0644))
        return platform::Status::failure("Could not write the sound server configuration " + path +
                                         ". Check that the folder is writable and try again.");
    return "The sound server will load the capture device at every start (" + path + ").";
}

platform::Result<std::string> CaptureDeviceInstaller::installCaptureDevice(bool persist) {
    auto server = platform::SoundServer::connect("Trovario installer", platform::SoundServer::kDefaultTimeoutMs);
    if (!server)
        return platform::Status::failure("No sound server is running (" + server.message() +
                                         "). Start PulseAudio or PipeWire and run the command again.");
    std::string loaded;
    if ((*server)->findSink(platform::kCaptureSinkDescription)) {
        loaded = std::string("The capture device \"") + platform::kCaptureSinkDescription + "\" is already loaded.";
    } else if (auto module = (*server)->loadModule("module-null-sink", moduleArguments()); !module) {
        return platform::Status::failure("The sound server refused to load the capture device (module-null-sink: " +
                                         module.message() + ").");
    } else {
        loaded = std::string("Loaded the capture device \"") + platform::kCaptureSinkDescription + "\".";
    }
    if (!persist) return loaded;
    auto name = (*server)->serverName();
    const bool pipewire = name && name->find("PipeWire") != std::string::npos;
    auto persisted = writePersistentConfig(pipewire);
    if (!persisted) return platform::Status::failure(loaded + " " + persisted.message());
    return loaded + " " + *persisted;
}
