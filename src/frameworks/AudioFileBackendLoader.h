#pragma once

#include <string>
#include <vector>

class AudioFileBackend;

// Finds and loads the audio backend library (trov_ffmpeg) with dlopen the
// first time the toolkit needs it. The library stays loaded for the life of
// the process: the decoders and encoders it made live in it.
class AudioFileBackendLoader {
public:
    // Names the library to load instead of searching for it.
    static constexpr const char* kPathVariable = "TROVARIO_AUDIO_BACKEND";

    // The backend, loaded on the first call; nullptr when it cannot be loaded,
    // with `whyNot` saying why. That failure is logged once, and later calls
    // give the same answer without trying again.
    static AudioFileBackend* backend(std::string& whyNot);

    // Where the library is looked for, in order: $TROVARIO_AUDIO_BACKEND
    // alone when set; otherwise beside the executable, in the installed
    // library folder relative to it, and where this build made it.
    static std::vector<std::string> candidatePaths();

    // Loads the library at `path`, without caching or logging.
    static AudioFileBackend* load(const std::string& path, std::string& whyNot);
};
