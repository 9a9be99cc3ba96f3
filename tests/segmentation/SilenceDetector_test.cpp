#include "segmentation/SilenceDetector.h"

#include "platform/Log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Interleaved stereo frames built run by run.
class Frames {
public:
    Frames& quiet(uint32_t count) { return repeat(count, 0.0f, 0.0f); }
    Frames& loud(uint32_t count) { return repeat(count, 0.5f, -0.5f); }
    Frames& repeat(uint32_t count, float left, float right) {
        for (uint32_t i = 0; i < count; ++i) {
            samples.push_back(left);
            samples.push_back(right);
        }
        return *this;
    }
    uint32_t count() const { return static_cast<uint32_t>(samples.size() / 2); }
    std::vector<float> samples;
};

std::vector<std::pair<int64_t, int64_t>> spans(const SilenceDetector& detector) {
    std::vector<std::pair<int64_t, int64_t>> result;
    for (const SilenceObject& s : detector.tracks()) result.emplace_back(s.startTime(), s.endTime());
    return result;
}

using Spans = std::vector<std::pair<int64_t, int64_t>>;

void feed(SilenceDetector& detector, const Frames& frames) { detector.detectSilence(frames.samples.data(), frames.count()); }

// The silences that a detector of a quarter-second length finds in `frames`.
Spans silencesIn(const Frames& frames) {
    SilenceDetector detector(0.001f, 0.25f);
    feed(detector, frames);
    return spans(detector);
}

TEST(SilenceDetector, MinimumSilenceAndTheLongRunLimitFollowTheConfiguredLength) {
    SilenceDetector detector(0.001f, 0.25f);
    feed(detector, Frames().loud(1));
    EXPECT_EQ(detector.minSilence(), 11025u);
    SilenceDetector longer(0.001f, 2.0f);
    feed(longer, Frames().quiet(13231).loud(1).quiet(13232).loud(1));
    EXPECT_EQ(longer.minSilence(), 88200u);
    EXPECT_EQ(spans(longer), (Spans{{13232, 26464}}));
    SilenceDetector negative(0.001f, -1.0f);
    feed(negative, Frames().loud(1));
    EXPECT_EQ(negative.minSilence(), 0u);
}

TEST(SilenceDetector, FindsTheSilencesOfAQuarterSecondDetector) {
    const struct {
        const char* what;
        Frames frames;
        Spans expected;
    } cases[] = {
        {"a run must pass the limit of 2756 frames", Frames().quiet(2758).loud(1), {{0, 2758}}},
        {"a run of 2757 frames is too short", Frames().quiet(2757).loud(1), {}},
        {"closer than a tenth of a second: joined", Frames().quiet(10000).loud(4000).quiet(5000).loud(1), {{0, 19000}}},
        {"a tenth apart: two", Frames().quiet(10000).loud(4410).quiet(5000).loud(1), {{0, 10000}, {14410, 19410}}},
        {"one loud channel breaks the run", Frames().quiet(2000).repeat(1, 0.0f, 0.2f).quiet(2000).loud(1), {}},
        {"the threshold is inclusive and NaN is quiet",
         Frames().repeat(3000, 0.001f, -0.001f).loud(1).repeat(3000, NAN, 0.0f).loud(1), {{0, 6001}}},
    };
    for (const auto& c : cases) EXPECT_EQ(silencesIn(c.frames), c.expected) << c.what;

    platform::LogCapture log;
    EXPECT_EQ(silencesIn(Frames().quiet(10000).loud(1)), (Spans{{0, 10000}}));
    EXPECT_EQ(log.count("silenceFound: start: 0 end: 10000"), 1u);
}

// The whole block is scanned: what follows a silence in the same block is
// neither skipped nor left out of the frame count.
TEST(SilenceDetector, ScansPastASilenceToTheEndOfTheBlock) {
    SilenceDetector detector(0.001f, 0.25f);
    feed(detector, Frames().loud(100).quiet(5000).loud(10000).quiet(6000).loud(7000));
    feed(detector, Frames().quiet(3000).loud(1));
    EXPECT_EQ(spans(detector), (Spans{{100, 5100}, {15100, 21100}, {28100, 31100}}));
    EXPECT_EQ(detector.sampleOffset(), 31101);
    EXPECT_EQ(detector.audioSegmentTree()->duration(), 31101);
}

TEST(SilenceDetector, RunsContinueAcrossBlocksAndMissingSamplesAreCounted) {
    SilenceDetector detector(0.001f, 0.25f);
    feed(detector, Frames().loud(10).quiet(2000));
    feed(detector, Frames().quiet(2000).loud(1));
    detector.detectSilence(nullptr, 500);
    EXPECT_EQ(spans(detector), (Spans{{10, 4010}}));
    EXPECT_EQ(detector.sampleOffset(), 4511);
}

TEST(SilenceDetector, PositionedBlocksCountGapsAndSkipWhatWasScanned) {
    SilenceDetector detector(0.001f, 0.25f);
    Frames block = Frames().loud(1000).quiet(3000).loud(96);
    detector.detectSilence(block.samples.data(), block.count(), 0);
    detector.detectSilence(block.samples.data(), block.count(), 2048);  // overlaps: only the new half counts
    EXPECT_EQ(detector.sampleOffset(), 6144);
    detector.detectSilence(block.samples.data(), block.count(), 10000);  // 3856 frames lost in between
    EXPECT_EQ(spans(detector), (Spans{{1000, 4000}, {11000, 14000}}));
    EXPECT_EQ(detector.sampleOffset(), 14096);
    EXPECT_EQ(detector.audioSegmentTree()->duration(), 14096);
    detector.detectSilence(block.samples.data(), block.count(), 0);  // all old
    EXPECT_EQ(detector.sampleOffset(), 14096);
}

TEST(SilenceDetector, MergeAddsLongEnoughSilencesLogsTheShortOnesAndAnUnfedDetectorMergesNothing) {
    SilenceDetector detector(0.001f, 0.25f);
    feed(detector, Frames().quiet(11025).loud(5000).quiet(11024).loud(1));
    platform::LogCapture log;
    detector.mergeSilentTracks();
    EXPECT_EQ(log.count("********** Ignoring short silence (11024.000000:11025.000000)"), 1u);
    const AudioSegmentTree& tree = *detector.audioSegmentTree();
    ASSERT_EQ(tree.numberOfAudioSegments(), 1);
    EXPECT_EQ(tree.audioSegmentAtIndex(0)->startTime(), 0);
    EXPECT_EQ(tree.audioSegmentAtIndex(0)->endTime(), 11025);
    EXPECT_EQ(detector.tracks().size(), 2u);  // the list itself is kept

    SilenceDetector unfed(0.0f, 0.0f);
    unfed.mergeSilentTracks();
    unfed.setRecordedFrames(88200);
    EXPECT_EQ(unfed.minSilence(), 0u);
    EXPECT_EQ(unfed.audioSegmentTree()->numberOfAudioSegments(), 0);
    EXPECT_EQ(unfed.audioSegmentTree()->duration(), 88200);
}

// The per-sample rule, written as plainly as possible, for comparison.
struct Reference {
    Reference(float threshold, int64_t limit) : threshold(threshold), limit(limit) {}
    void scan(const float* s, uint32_t frames) {
        for (uint32_t i = 0; i < frames; ++i, ++offset) {
            for (int c = 0; c < 2; ++c) {
                float v = s[2 * i + c];
                bool quiet = !(v < -threshold) && !(v > threshold);
                if (quiet) {
                    if (!tracking) tracking = true, start = offset;
                    if (offset - start > limit) found = true;
                } else if (tracking && !found) {
                    tracking = false, start = offset;
                } else if (tracking) {
                    if (!silences.empty() && start - silences.back().second < 4410) {
                        int64_t joined = silences.back().first;
                        silences.pop_back();
                        silences.emplace_back(joined, offset);
                    } else {
                        silences.emplace_back(start, offset);
                    }
                    tracking = found = false, start = offset;
                }
            }
        }
    }
    float threshold;
    int64_t limit;
    int64_t offset = 0, start = 0;
    bool tracking = false, found = false;
    Spans silences;
};

TEST(SilenceDetector, AgreesWithThePlainPerSampleRuleOnRandomSignals) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 20; ++round) {
        Frames frames;
        while (frames.count() < 200000) {
            uint32_t length = std::uniform_int_distribution<uint32_t>(1, 6000)(rng);
            switch (rng() % 4) {
                case 0: frames.quiet(length); break;
                case 1: frames.loud(length); break;
                case 2: frames.repeat(length, 0.0005f, -0.001f); break;
                default: frames.repeat(1, rng() % 2 ? 0.3f : 0.0f, rng() % 2 ? NAN : -0.2f);
            }
        }
        SilenceDetector detector(0.001f, 0.1f);
        Reference reference(0.001f, 1102);
        for (uint32_t done = 0; done < frames.count();) {
            uint32_t block = std::min(frames.count() - done, std::uniform_int_distribution<uint32_t>(1, 5000)(rng));
            detector.detectSilence(frames.samples.data() + 2 * size_t(done), block);
            reference.scan(frames.samples.data() + 2 * size_t(done), block);
            done += block;
        }
        ASSERT_EQ(spans(detector), reference.silences) << "round " << round;
        ASSERT_EQ(detector.sampleOffset(), reference.offset);
    }
}

}  // namespace
