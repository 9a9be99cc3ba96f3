#include "AutoCaptureClasses/DefaultOutputMemory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/ServiceNames.h"
#include "platform/SoundServer.h"

namespace {

std::string stateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base = state && state[0] == '/' ? state : platform::homeDirectory() + "/.local/state";
    return base + "/trovario";
}

bool isCaptureSink(const platform::SinkInfo& sink) {
    return sink.name == platform::kCaptureSinkName || sink.description == platform::kCaptureSinkDescription;
}

// The remembered sink if it still exists, else any sink but the capture device.
std::optional<std::string> replacementSink(const std::vector<platform::SinkInfo>& sinks, const std::string& wanted) {
    for (const auto& sink : sinks)
        if (sink.name == wanted && !isCaptureSink(sink)) return sink.name;
    for (const auto& sink : sinks)
        if (!isCaptureSink(sink)) return sink.name;
    return std::nullopt;
}

}  // namespace

std::string DefaultOutputMemory::path() { return stateDirectory() + "/previous-default-output"; }

bool DefaultOutputMemory::remember(const std::string& sinkName) {
    if (!platform::createDirectories(stateDirectory())) return false;
    std::string temporary = path() + ".new";
    unlink(temporary.c_str());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::string text = sinkName + "\n";
    bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = fsync(fd) == 0 && written;
    close(fd);
    if (written && rename(temporary.c_str(), path().c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

std::optional<std::string> DefaultOutputMemory::remembered() {
    std::ifstream in(path());
    std::string name;
    if (!std::getline(in, name) || name.empty()) return std::nullopt;
    return name;
}

void DefaultOutputMemory::forget() { unlink(path().c_str()); }

int32_t DefaultOutputMemory::restoreAfterInterruptedCapture() {
    auto wanted = remembered();
    if (!wanted) return 0;
    std::string error;
    auto server = platform::SoundServer::connect("Trovario", platform::SoundServer::kDefaultTimeoutMs, &error);
    if (!server) {
        platform::Log::warning("cannot restore the default output \"%s\" yet: no sound server (%s)\n",
                               wanted->c_str(), error.c_str());
        return 1;
    }
    auto current = server->defaultSinkName();
    auto sinks = server->sinks();
    if (!current || !sinks) {
        platform::Log::warning("cannot restore the default output \"%s\" yet: %s\n", wanted->c_str(),
                               server->lastError().c_str());
        return 1;
    }
    bool captureIsDefault = *current == platform::kCaptureSinkName;
    auto target = captureIsDefault ? replacementSink(*sinks, *wanted) : std::nullopt;
    if (target && !server->setDefaultSink(*target)) {
        platform::Log::error("cannot restore the default output \"%s\": %s\n", target->c_str(),
                             server->lastError().c_str());
        return 1;
    }
    if (target)
        platform::Log::info("restored the default output \"%s\" after an interrupted capture\n", target->c_str());
    forget();
    return 0;
}
