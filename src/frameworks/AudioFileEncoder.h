#pragma once

#include <cstdint>
#include <string>

#include "frameworks/CoreAudioTypes.h"

// Writes an audio file from interleaved client frames. Every operation
// returns a status and, on failure, fills `error` with a text for the log.
class AudioFileEncoder {
public:
    virtual ~AudioFileEncoder() = default;

    virtual int32_t open(const std::string& path, uint32_t fileType, const AudioStreamBasicDescription& clientFormat,
                         const AudioStreamBasicDescription& fileFormat, std::string& error) = 0;
    virtual int32_t setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) = 0;
    virtual int32_t write(const void* frames, uint32_t count, std::string& error) = 0;
    virtual int32_t flushToDisk(std::string& error) = 0;
    // Completes the file. A file that could not be completed gives a non-zero
    // status; an MPEG-4 file is then removed (it cannot be read without its
    // index), a CAF file stays readable up to the last frame that reached it.
    virtual int32_t finish(std::string& error) = 0;

    const AudioStreamBasicDescription& fileFormat() const { return mFileFormat; }
    const AudioStreamBasicDescription& clientFormat() const { return mClientFormat; }

protected:
    // Set by `open` and `setClientFormat` of each backend.
    AudioStreamBasicDescription mClientFormat{};
    AudioStreamBasicDescription mFileFormat{};
};
