#include "AutoCaptureClasses/DefaultOutputMemory.h"

#include <unistd.h>

#include "AutoCaptureClasses/CaptureLock.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/RegularFile.h"
#include "platform/ServiceNames.h"
#include "platform/SoundServer.h"

namespace {

std::string stateDirectory() { return platform::userStateDirectory() + "/trovario"; }

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

platform::Status DefaultOutputMemory::remember(const std::string& sinkName) {
    if (platform::Status folder = platform::createDirectories(stateDirectory()); !folder) return folder;
    return platform::writeFileAtomically(path(), sinkName + "\n", 0600);
}

std::optional<std::string> DefaultOutputMemory::remembered() {
    // A sink name and a newline; a file that is not a small regular file was not written here.
    platform::Result<std::string> text = platform::readRegularFile(path(), 4096);
    if (!text) return std::nullopt;
    std::string name = text->substr(0, text->find('\n'));
    if (name.empty()) return std::nullopt;
    return name;
}

void DefaultOutputMemory::forget() { unlink(path().c_str()); }

int32_t DefaultOutputMemory::restoreAfterInterruptedCapture() {
    if (!remembered() || CaptureLock::isHeldByRecorder()) return 0;
    auto lock = CaptureLock::acquireShared();
    if (!lock) {
        platform::Log::warning("cannot restore the default output yet: %s\n", lock.message().c_str());
        return 1;
    }
    return restoreAfterInterruptedCapture(**lock);
}

int32_t DefaultOutputMemory::restoreAfterInterruptedCapture(const CaptureLock&) {
    auto wanted = remembered();
    if (!wanted) return 0;
    auto server = platform::SoundServer::connect("Trovario", platform::SoundServer::kDefaultTimeoutMs);
    if (!server) {
        platform::Log::warning("cannot restore the default output \"%s\" yet: no sound server (%s)\n",
                            wanted->c_str(), server.message().c_str());
        return 1;
    }
    auto current = (*server)->defaultSinkName();
    auto sinks = current ? (*server)->sinks() : current.status();
    if (!sinks) {
        platform::Log::warning("cannot restore the default output \"%s\" yet: %s\n", wanted->c_str(),
                            sinks.message().c_str());
        return 1;
    }
    bool captureIsDefault = *current == platform::kCaptureSinkName;
    auto target = captureIsDefault ? replacementSink(*sinks, *wanted) : std::nullopt;
    if (target) {
        if (platform::Status switched = (*server)->setDefaultSink(*target); !switched) {
            platform::Log::error("cannot restore the default output \"%s\": %s\n", target->c_str(),
                                switched.message().c_str());
            return 1;
        }
        platform::Log::info("restored the default output \"%s\" after an interrupted capture\n", target->c_str());
    }
    forget();
    return 0;
}
