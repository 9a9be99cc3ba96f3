#pragma once

// Recordings for the auto-definer: loud noise that never comes near the
// threshold, with exact digital silence (or any quiet value) where asked.

#include <utility>
#include <vector>

#include "AudioTestSupport.h"
#include "tracks/ZORTrackAutoDefiner.h"

namespace definertest {

struct Quiet {
    uint32_t from, to;   // frames [from, to)
    float value = 0.0f;  // every sample of the stretch, alternating sign
};

inline std::vector<float> recording(uint32_t frames, const std::vector<Quiet>& quiet, unsigned seed = 3) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> level(0.1f, 0.6f);
    std::vector<float> samples(size_t(frames) * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i % 3 ? 1 : -1) * level(random);
    for (const Quiet& q : quiet)
        for (size_t i = size_t(q.from) * 2; i < size_t(q.to) * 2; ++i) samples[i] = (i % 2 ? -q.value : q.value);
    return samples;
}

inline std::vector<std::pair<int64_t, int64_t>> spans(const ZORTrackAutoDefiner::Tracks& tracks) {
    std::vector<std::pair<int64_t, int64_t>> result;
    for (const auto& track : tracks) result.emplace_back(track->startTime(), track->stopTime());
    return result;
}

// Seconds that give exactly `frames` silence frames at 44100 Hz after the float round trip.
inline float secondsFor(uint32_t frames) {
    return float((frames + 0.5) / 44100.0);
}

}  // namespace definertest
