#pragma once

#include <cstdint>
#include <string>

#include "frameworks/CoreAudioTypes.h"

// Reads an audio file and delivers interleaved frames in a client format.
// Positions and the length count frames of the file's own rate; reads count
// client frames (the same when the rates agree). Every operation returns a
// status and, on failure, fills `error` with a text for the log.
class AudioFileDecoder {
public:
    virtual ~AudioFileDecoder() = default;

    virtual int32_t open(const std::string& path, std::string& error) = 0;
    virtual int32_t setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) = 0;
    // Frames in the file; -1 when the file cannot be decoded to the end.
    virtual int64_t lengthInFrames() = 0;
    // The next read starts exactly at `frame`.
    virtual int32_t seek(int64_t frame, std::string& error) = 0;
    // Fills `data` with up to `frames` frames; `frames` becomes the count, 0 at the end.
    virtual int32_t read(void* data, uint32_t& frames, std::string& error) = 0;

    virtual const AudioStreamBasicDescription& fileFormat() const = 0;
    virtual const AudioStreamBasicDescription& clientFormat() const = 0;
};
