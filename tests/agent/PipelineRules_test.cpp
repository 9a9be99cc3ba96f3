// The arithmetic of capture control and track processing: the time limit of a
// capture and the walk that merges tracks shorter than the minimum duration.
#include "agent/CaptureControl.h"
#include "agent/TrackProcessingPipeline.h"

#include <gtest/gtest.h>

namespace {

TrackProcessingPipeline::Tracks candidates(const std::vector<std::pair<int64_t, int64_t>>& spans) {
    TrackProcessingPipeline::Tracks tracks;
    for (auto [start, stop] : spans) {
        tracks.push_back(TROVTrack::initWithNum(0, "candidate"));
        tracks.back()->setStartTime(start);
        tracks.back()->setStopTime(stop);
    }
    return tracks;
}

std::string walk(const std::vector<std::pair<int64_t, int64_t>>& spans, uint32_t minFrames, int64_t length) {
    std::string text;
    for (const auto& track : TrackProcessingPipeline::applyMinimumTrackDuration(candidates(spans), minFrames, length))
        text += track->trackName().value_or("?") + " " + std::to_string(track->startTime()) + "-" +
                std::to_string(track->stopTime()) + "; ";
    return text;
}

}  // namespace

TEST(CaptureTimeLimit, EditorMinutesOverrideThePreferencesAndEveryUnitCodeHasItsMultiplier) {
    const struct { int32_t minutes; int64_t count, unit; float seconds; } cases[] = {
        {0, 2, 2, 7200}, {5, 2, 3, 300}, {0, 0, 2, 7200}, {-3, 1, 3, 86400}, {0, 1, 0, 3600}, {0, 7, 1, 420},
        {0, 7, 4, 420}, {0, -1, 1, 7200}, {0, 0, 0, 7200}};
    for (const auto& c : cases)
        EXPECT_EQ(CaptureControl::captureTimeLimit(c.minutes, c.count, c.unit).mSeconds, c.seconds)
            << c.minutes << " " << c.count << " " << c.unit;
}

// 30 s at 44100 Hz: short candidates fold into the next that passes; what is
// pending at the end becomes a last, unnumbered track whatever its length.
TEST(MinimumTrackDuration, ShortCandidatesJoinTheNextAndTheRestBecomesALastTrack) {
    EXPECT_EQ(walk({{0, 1000000}, {1000000, 3000000}, {3000000, 3500000}}, 1323000, 3500000),
              "Auto Capture Track 1 0-3000000; Auto Capture Track 3000000-3500000; ");
    EXPECT_EQ(walk({{0, 1323000}, {1323000, 2646001}}, 1323000, 2646001), "Auto Capture Track 1 0-2646001; ");
    EXPECT_EQ(walk({{0, 2000000}, {2000000, 2000100}}, 1323000, 2000100),
              "Auto Capture Track 0 0-2000000; Auto Capture Track 2000000-2000100; ");
    EXPECT_EQ(walk({}, 1323000, 0), "");
}
