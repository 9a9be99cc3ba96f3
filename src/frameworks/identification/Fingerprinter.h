#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Chromaprint's raw fingerprint of 16-bit mono audio at 11025 Hz: one 32-bit
// item for every kSecondsPerItem of audio.
class Fingerprinter {
public:
    static constexpr int kSampleRate = 11025;
    static constexpr double kSecondsPerItem = 4096.0 / 3.0 / kSampleRate;

    // The fingerprint of `count` samples; empty when they are too few for one item.
    static std::vector<uint32_t> fingerprint(const int16_t* samples, size_t count);
};
