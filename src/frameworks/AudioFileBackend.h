#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frameworks/AudioFileDecoder.h"
#include "frameworks/AudioFileEncoder.h"

// The library that does the toolkit's decoding, encoding and format queries.
// It lives in a shared library of its own, loaded on first use
// (AudioFileBackendLoader), so that a process that never touches an audio
// file does not map the codec libraries behind it.
class AudioFileBackend {
public:
    // Raised whenever this interface or the classes it hands out change, so
    // that a library from another build is refused instead of misread.
    static constexpr uint32_t kInterfaceVersion = 1;
    // The name of the library's one exported symbol, trovAudioFileBackend below.
    static constexpr const char* kEntryPointName = "trovAudioFileBackend";

    virtual ~AudioFileBackend() = default;

    virtual std::unique_ptr<AudioFileDecoder> makeDecoder() = 0;
    virtual std::unique_ptr<AudioFileEncoder> makeEncoder() = 0;
    // The format queries of AudioFormatQueries, with the same contracts.
    virtual int32_t formatInfo(AudioStreamBasicDescription& format) = 0;
    virtual int32_t extensionsForFileType(uint32_t fileType, std::vector<std::string>& extensions) = 0;
};

// Defined by the backend library and found there with dlsym, never linked:
// the backend, or nullptr when the library was built for another interface
// version than `interfaceVersion`.
extern "C" AudioFileBackend* trovAudioFileBackend(uint32_t interfaceVersion);
