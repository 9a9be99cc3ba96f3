#include "segmentation/SilenceDetector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

// A tone interrupted by half a second of digital silence after every second.
std::vector<float> toneWithGaps(uint32_t frames) {
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        bool quiet = (i / 22050) % 3 == 2;
        float value = quiet ? 0.0f : 0.5f * std::sin(static_cast<float>(i) * 0.0627f) + (i % 2 ? 0.1f : -0.1f);
        samples[2 * static_cast<size_t>(i)] = value;
        samples[2 * static_cast<size_t>(i) + 1] = value;
    }
    return samples;
}

TEST(SilenceDetectorThreads, WriterFeedsWhileAnotherThreadReadsProgress) {
    const uint32_t frames = 441000;
    const uint32_t block = 2048;
    std::vector<float> samples = toneWithGaps(frames);

    SilenceDetector detector(0.001f, 0.25f);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint32_t first = 0; first < frames; first += block) {
            uint32_t count = std::min(block, frames - first);
            detector.detectSilence(samples.data() + 2 * static_cast<size_t>(first), count, first);
        }
        done = true;
    });

    int64_t lastSeen = 0;
    size_t lastSilences = 0;
    while (!done) {
        int64_t offset = detector.sampleOffset();
        size_t silences = detector.tracks().size();
        EXPECT_GE(offset, lastSeen);
        EXPECT_GE(silences, lastSilences);
        lastSeen = offset;
        lastSilences = silences;
        std::this_thread::yield();
    }
    writer.join();

    detector.mergeSilentTracks();
    EXPECT_EQ(detector.sampleOffset(), frames);
    EXPECT_EQ(detector.audioSegmentTree()->duration(), frames);
    // Gaps at 1.0-1.5 s, 2.5-3.0 s, ... up to 9.0 s.
    EXPECT_EQ(detector.tracks().size(), 6u);
    EXPECT_EQ(detector.audioSegmentTree()->numberOfAudioSegments(), 6);
}

}  // namespace
