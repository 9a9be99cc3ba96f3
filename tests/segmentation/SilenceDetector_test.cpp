#include "segmentation/SilenceDetector.h"

#include "SegmentTestSupport.h"

#include <cmath>
#include <vector>

namespace {

using Spans = std::vector<std::pair<int64_t, int64_t>>;

// Interleaved stereo frames built run by run.
struct Frames {
    Frames& quiet(uint32_t count) { return repeat(count, 0.0f, 0.0f); }
    Frames& loud(uint32_t count) { return repeat(count, 0.5f, -0.5f); }
    Frames& repeat(uint32_t count, float left, float right) {
        for (uint32_t i = 0; i < count; ++i) samples.insert(samples.end(), {left, right});
        return *this;
    }
    uint32_t count() const { return uint32_t(samples.size() / 2); }
    std::vector<float> samples;
};

Spans spans(const SilenceDetector& detector) {
    Spans result;
    for (const SilenceObject& s : detector.tracks()) result.emplace_back(s.startTime(), s.endTime());
    return result;
}

void feed(SilenceDetector& detector, const Frames& frames) { detector.detectSilence(frames.samples.data(), frames.count()); }

// A silence is a run of more than min(length / 4, 13230) quiet frames.
TEST(SilenceDetector, FindsTheSilencesOfTheConfiguredLength) {
    const struct {
        const char* what;
        float seconds;
        Frames frames;
        Spans expected;
    } cases[] = {
        {"a run must pass the limit of 2756 frames", 0.25f, Frames().quiet(2758).loud(1), {{0, 2758}}},
        {"a run of 2757 frames is too short", 0.25f, Frames().quiet(2757).loud(1), {}},
        {"also when its last frame is half quiet", 0.25f, Frames().quiet(2756).repeat(1, 0.0f, 0.5f), {}},
        {"long lengths are capped at 13230 frames", 2.0f, Frames().quiet(13231).loud(1).quiet(13232).loud(1),
         {{13232, 26464}}},
        {"a negative length finds every quiet frame", -1.0f, Frames().loud(1).quiet(2).loud(1), {{1, 3}}},
        {"closer than a tenth of a second: joined", 0.25f, Frames().quiet(10000).loud(4000).quiet(5000).loud(1),
         {{0, 19000}}},
        {"a tenth apart: two", 0.25f, Frames().quiet(10000).loud(4410).quiet(5000).loud(1), {{0, 10000}, {14410, 19410}}},
        {"one loud channel breaks the run", 0.25f, Frames().quiet(2000).repeat(1, 0.0f, 0.2f).quiet(2000).loud(1), {}},
        {"the threshold is inclusive and NaN is quiet", 0.25f,
         Frames().repeat(3000, 0.001f, -0.001f).loud(1).repeat(3000, NAN, 0.0f).loud(1), {{0, 6001}}},
    };
    for (const auto& c : cases) {
        SilenceDetector detector(0.001f, c.seconds);
        feed(detector, c.frames);
        EXPECT_EQ(spans(detector), c.expected) << c.what;
    }
}

// Frames skipped since the last block, or given without samples, are counted
// without being scanned; frames scanned before are not scanned again.
TEST(SilenceDetector, PositionedBlocksCountGapsAndSkipWhatWasScanned) {
    SilenceDetector detector(0.001f, 0.25f);
    Frames block = Frames().loud(1000).quiet(3000).loud(96);
    detector.detectSilence(block.samples.data(), block.count(), 0);
    detector.detectSilence(block.samples.data(), block.count(), 2048);  // overlaps: only the new half counts
    EXPECT_EQ(detector.sampleOffset(), 6144);
    detector.detectSilence(block.samples.data(), block.count(), 10000);  // 3856 frames lost in between
    EXPECT_EQ(spans(detector), (Spans{{1000, 4000}, {11000, 14000}}));
    detector.detectSilence(block.samples.data(), block.count(), 0);  // all old
    detector.detectSilence(nullptr, 500);
    EXPECT_EQ(detector.sampleOffset(), 14596);
    EXPECT_EQ(detector.audioSegmentTree()->duration(), 14596);
}

TEST(SilenceDetector, MergeAddsOnlySilencesOfTheConfiguredLength) {
    SilenceDetector detector(0.001f, 0.25f);
    feed(detector, Frames().quiet(11025).loud(5000).quiet(11024).loud(1));
    detector.mergeSilentTracks();
    EXPECT_EQ(segtest::layout(*detector.audioSegmentTree()), "S0-11025");
}

}  // namespace
