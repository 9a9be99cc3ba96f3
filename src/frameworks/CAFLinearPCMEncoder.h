#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "frameworks/AudioFileEncoder.h"

// Writes 16-bit signed integer PCM (either byte order, any channel count and
// rate) into a CAF file from interleaved 32-bit float or 16-bit integer
// client frames of the same rate and channel count. No codec is involved, so
// the toolkit writes the scratch recording without loading its FFmpeg
// backend; the samples are the ones FFmpeg would write.
//
// Frames go to the file with the call that hands them over. Until `finish`
// the data chunk's size reads "unknown" (allowed for a file's last chunk), so
// a file whose writer died stays readable up to its last whole frame.
class CAFLinearPCMEncoder final : public AudioFileEncoder {
public:
    // True when this encoder writes `fileFormat` in `fileType` from `clientFormat`.
    static bool handles(uint32_t fileType, const AudioStreamBasicDescription& clientFormat,
                        const AudioStreamBasicDescription& fileFormat);

    CAFLinearPCMEncoder() = default;
    ~CAFLinearPCMEncoder() override;
    CAFLinearPCMEncoder(const CAFLinearPCMEncoder&) = delete;
    CAFLinearPCMEncoder& operator=(const CAFLinearPCMEncoder&) = delete;

    int32_t open(const std::string& path, uint32_t fileType, const AudioStreamBasicDescription& clientFormat,
                 const AudioStreamBasicDescription& fileFormat, std::string& error) override;
    // Another sample type is accepted; another rate or channel count is not.
    int32_t setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) override;
    int32_t write(const void* frames, uint32_t count, std::string& error) override;
    // Nothing waits in a buffer: only an earlier failure is reported.
    int32_t flushToDisk(std::string& error) override;
    int32_t finish(std::string& error) override;

private:
    // Converts up to `frames` frames into mChunk; the bytes to write.
    size_t convert(const uint8_t* frames, uint32_t count);
    int32_t writeChunk(size_t bytes, std::string& error);
    // Records a failed system call; `error` becomes "<what> <path>: <cause><aftermath>".
    int32_t failure(int errorNumber, const std::string& what, std::string& error,
                    const std::string& aftermath = "");
    int32_t refusal(std::string& error) const;

    std::string mPath;
    int mFd = -1;
    uint64_t mDataBytes = 0;  // whole frames in the data chunk
    int32_t mFailure = 0;
    std::string mFailureCause;
    std::array<uint8_t, 64 * 1024> mChunk;
};
