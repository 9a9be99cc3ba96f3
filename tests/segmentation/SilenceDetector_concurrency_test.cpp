#include "segmentation/SilenceDetector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

// A tone interrupted by half a second of digital silence after every second,
// fed in blocks while another thread reads the progress.
TEST(SilenceDetectorThreads, WriterFeedsWhileAnotherThreadReadsProgress) {
    const uint32_t frames = 441000, block = 2048;
    std::vector<float> samples(2 * size_t(frames));
    for (uint32_t i = 0; i < frames; ++i)
        samples[2 * size_t(i)] = samples[2 * size_t(i) + 1] = (i / 22050) % 3 == 2 ? 0.0f : 0.5f * std::sin(i * 0.0627f) + 0.1f;

    SilenceDetector detector(0.001f, 0.25f);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (uint32_t first = 0; first < frames; first += block)
            detector.detectSilence(samples.data() + 2 * size_t(first), std::min(block, frames - first), first);
        done = true;
    });
    // Frames counted and silences found only ever grow.
    std::pair<int64_t, size_t> last{0, 0};
    while (!done) {
        const std::pair<int64_t, size_t> seen{detector.sampleOffset(), detector.tracks().size()};
        EXPECT_TRUE(seen.first >= last.first && seen.second >= last.second);
        last = seen;
        std::this_thread::yield();
    }
    writer.join();

    detector.mergeSilentTracks();
    EXPECT_EQ(detector.sampleOffset(), frames);
    // Gaps at 1.0-1.5 s, 2.5-3.0 s, ... up to 9.0 s.
    EXPECT_EQ(std::make_tuple(detector.tracks().size(), detector.audioSegmentTree()->numberOfAudioSegments()),
              std::make_tuple(6u, 6));
}

}  // namespace
