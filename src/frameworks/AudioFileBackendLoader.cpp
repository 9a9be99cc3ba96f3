#include "frameworks/AudioFileBackendLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include "frameworks/AudioFileBackend.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace {

struct LoadResult {
    AudioFileBackend* backend = nullptr;
    std::string whyNot;
};

std::string joined(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) text += (text.empty() ? "" : ", ") + path;
    return text;
}

// secure_getenv: a privileged process never loads code named by its caller's environment.
const char* configuredPath() {
    const char* configured = secure_getenv(AudioFileBackendLoader::kPathVariable);
    return configured && *configured ? configured : nullptr;
}

// The user's own choice as it is, so that dlopen says what is wrong with it;
// else the first candidate that exists; empty when none does.
std::string pathToLoad(const std::vector<std::string>& candidates) {
    if (configuredPath()) return candidates.front();
    for (const std::string& path : candidates)
        if (access(path.c_str(), F_OK) == 0) return path;
    return {};
}

LoadResult loadFirstFound() {
    const std::vector<std::string> candidates = AudioFileBackendLoader::candidatePaths();
    LoadResult result;
    if (std::string path = pathToLoad(candidates); !path.empty())
        result.backend = AudioFileBackendLoader::load(path, result.whyNot);
    else
        result.whyNot = std::string("the audio backend ") + TROV_AUDIO_BACKEND_FILE_NAME + " is in none of " +
                        joined(candidates);
    if (!result.backend)
        platform::Log::error("audio toolkit: %s; audio files cannot be read or written (set %s to the library's path)",
                             result.whyNot.c_str(), AudioFileBackendLoader::kPathVariable);
    return result;
}

}  // namespace

AudioFileBackend* AudioFileBackendLoader::backend(std::string& whyNot) {
    static const LoadResult loaded = loadFirstFound();
    whyNot = loaded.whyNot;
    return loaded.backend;
}

std::vector<std::string> AudioFileBackendLoader::candidatePaths() {
    if (const char* configured = configuredPath()) return {configured};
    std::vector<std::string> paths;
    if (std::string exe = platform::executableDirectory(); !exe.empty()) {
        paths.push_back(exe + "/" + TROV_AUDIO_BACKEND_FILE_NAME);
        paths.push_back(exe + "/" + TROV_AUDIO_BACKEND_INSTALL_DIR + "/" + TROV_AUDIO_BACKEND_FILE_NAME);
    }
    paths.push_back(TROV_AUDIO_BACKEND_BUILD_PATH);
    return paths;
}

AudioFileBackend* AudioFileBackendLoader::load(const std::string& path, std::string& whyNot) {
    // RTLD_NOW: a codec library missing on this system fails here, with its name, not at some later call.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* error = dlerror();
        whyNot = "cannot load the audio backend " + path + ": " + (error ? error : "unknown error");
        return nullptr;
    }
    auto entry = reinterpret_cast<decltype(&trovAudioFileBackend)>(dlsym(library, AudioFileBackend::kEntryPointName));
    AudioFileBackend* backend = entry ? entry(AudioFileBackend::kInterfaceVersion) : nullptr;
    if (!backend) {
        whyNot = "the audio backend " + path + (entry ? " was built for another version of the toolkit"
                                                      : std::string(" has no entry point ") +
                                                            AudioFileBackend::kEntryPointName);
        dlclose(library);
    }
    return backend;
}
