#pragma once

#include <cstdint>
#include <memory>

#include "frameworks/CoreAudioTypes.h"

// A stream-format record as an object. The agent's working format comes from
// `standardFormat(0)`: 44100 Hz, two channels, 32-bit float, interleaved.
class ZORAudioStreamBasicDescription {
public:
    explicit ZORAudioStreamBasicDescription(const AudioStreamBasicDescription& format);

    // Index 0 is the standard format; there is no other, so any other index gives nullptr.
    static std::shared_ptr<ZORAudioStreamBasicDescription> standardFormat(int32_t index);

    // The data format of the scratch recording, whether captured or imported:
    // 16-bit big-endian signed stereo at 44100 Hz, for a CAF file.
    static AudioStreamBasicDescription scratchRecordingFormat();

    // Interleaved, packed linear PCM in native byte order unless `formatFlags`
    // says big-endian; the byte counts follow from the channels and bits.
    static AudioStreamBasicDescription linearPCM(double sampleRate, uint32_t channels,
                                                 uint32_t bitsPerChannel, uint32_t formatFlags);

    const AudioStreamBasicDescription* audioStreamBasicDescription() const { return &mFormat; }

private:
    AudioStreamBasicDescription mFormat;
};
