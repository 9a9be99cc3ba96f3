#include "segmentation/SilenceDetector.h"

#include "platform/Log.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t ChunkFrames = 16;

uint32_t framesFromSeconds(float seconds) {
    float frames = seconds * static_cast<float>(SilenceDetector::SampleRate);
    if (!(frames > 0.0f)) return 0;
    if (frames >= 4294967295.0f) return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

// Quiet is -threshold <= s <= threshold; a value that fails both comparisons
// (not a number) counts as quiet too, which is exactly "not |s| > threshold".
inline bool isLoud(float sample, float threshold) { return std::fabs(sample) > threshold; }

// Four samples at a time, so that whole chunks are classified at memory speed.
typedef float Floats __attribute__((vector_size(16)));
typedef int32_t Lanes __attribute__((vector_size(16)));

inline Lanes loudLanes(const float* samples, Floats threshold) {
    Floats values;
    memcpy(&values, samples, sizeof values);
    Lanes magnitude = std::bit_cast<Lanes>(values) & 0x7fffffff;
    return std::bit_cast<Floats>(magnitude) > threshold;
}

enum class Chunk { AllLoud, AllQuiet, Mixed };

inline Chunk classify(const float* samples, Floats threshold) {
    Lanes all = loudLanes(samples, threshold);
    Lanes any = all;
    for (uint32_t k = 4; k < 2 * ChunkFrames; k += 4) {
        Lanes lanes = loudLanes(samples + k, threshold);
        all &= lanes;
        any |= lanes;
    }
    if ((all[0] & all[1] & all[2] & all[3]) != 0) return Chunk::AllLoud;
    if ((any[0] | any[1] | any[2] | any[3]) == 0) return Chunk::AllQuiet;
    return Chunk::Mixed;
}

}  // namespace

SilenceDetector::SilenceDetector(float silenceThreshold, float lengthOfSilence)
    : silenceThreshold_(silenceThreshold), lengthOfSilence_(lengthOfSilence), audioSegmentTree_(AudioSegmentTree::create()) {}

float SilenceDetector::silenceThreshold() const {
    std::lock_guard guard(mLock);
    return silenceThreshold_;
}

void SilenceDetector::setSilenceThreshold(float threshold) {
    std::lock_guard guard(mLock);
    silenceThreshold_ = threshold;
}

float SilenceDetector::lengthOfSilence() const {
    std::lock_guard guard(mLock);
    return lengthOfSilence_;
}

void SilenceDetector::setLengthOfSilence(float seconds) {
    std::lock_guard guard(mLock);
    lengthOfSilence_ = seconds;
}

uint32_t SilenceDetector::minSilence() const {
    std::lock_guard guard(mLock);
    return minSilence_;
}

int64_t SilenceDetector::sampleOffset() const {
    std::lock_guard guard(mLock);
    return sampleOffset_;
}

std::vector<SilenceObject> SilenceDetector::tracks() const {
    std::lock_guard guard(mLock);
    return tracks_;
}

void SilenceDetector::detectSilence(const float* samples, uint32_t frameCount) {
    std::lock_guard guard(mLock);
    if (frameCount == 0) return;
    minSilence_ = framesFromSeconds(lengthOfSilence_);
    scan(samples, frameCount);
    coverInTree();
}

void SilenceDetector::detectSilence(const float* samples, uint32_t frameCount, int64_t firstFrame) {
    std::lock_guard guard(mLock);
    if (frameCount == 0) return;
    minSilence_ = framesFromSeconds(lengthOfSilence_);
    sampleOffset_ = std::max(sampleOffset_, firstFrame);
    int64_t alreadyScanned = sampleOffset_ - firstFrame;
    if (alreadyScanned < frameCount) {
        uint32_t skip = static_cast<uint32_t>(alreadyScanned);
        scan(samples ? samples + 2 * static_cast<size_t>(skip) : nullptr, frameCount - skip);
    }
    coverInTree();
}

void SilenceDetector::setRecordedFrames(int64_t frames) {
    std::lock_guard guard(mLock);
    audioSegmentTree_->setDuration(static_cast<double>(frames));
}

void SilenceDetector::coverInTree() {
    if (audioSegmentTree_->duration() < static_cast<double>(sampleOffset_))
        audioSegmentTree_->setDuration(static_cast<double>(sampleOffset_));
}

void SilenceDetector::scan(const float* samples, uint32_t frameCount) {
    if (!samples) {
        sampleOffset_ += frameCount;
        return;
    }
    const float threshold = silenceThreshold_;
    const Floats thresholds = {threshold, threshold, threshold, threshold};
    const int64_t limit = std::min(minSilence_ / 4, LongRunCap);
    // The state lives in locals while scanning; the members are written back at the end.
    int64_t offset = sampleOffset_;
    int64_t start = silenceTrackingStart_;
    bool tracking = trackingSilence_;
    bool found = silenceFound_;

    auto sample = [&](float value) {
        if (!isLoud(value, threshold)) {
            if (!tracking) {
                tracking = true;
                start = offset;
            }
            if (offset - start > limit) found = true;
        } else if (tracking && !found) {
            tracking = false;
            start = offset;
        } else if (tracking) {
            emitSilence(start, offset);
            tracking = found = false;
            start = offset;
        }
    };

    uint32_t frame = 0;
    while (frame < frameCount) {
        const float* at = samples + 2 * static_cast<size_t>(frame);
        // Whole chunks that cannot change the state are counted, not walked:
        // all loud while no run is followed, all quiet while one is.
        if (frameCount - frame >= ChunkFrames) {
            Chunk chunk = classify(at, thresholds);
            if ((!tracking && chunk == Chunk::AllLoud) || (tracking && chunk == Chunk::AllQuiet)) {
                offset += ChunkFrames;
                if (tracking && offset - 1 - start > limit) found = true;
                frame += ChunkFrames;
                continue;
            }
        }
        uint32_t end = std::min(frameCount, frame + ChunkFrames);
        for (; frame < end; ++frame, ++offset) {
            sample(samples[2 * static_cast<size_t>(frame)]);
            sample(samples[2 * static_cast<size_t>(frame) + 1]);
        }
    }
    sampleOffset_ = offset;
    silenceTrackingStart_ = start;
    trackingSilence_ = tracking;
    silenceFound_ = found;
}

void SilenceDetector::emitSilence(int64_t start, int64_t end) {
    SilenceObject silence(start, end);
    if (!tracks_.empty() && silence.startTime() - tracks_.back().endTime() < MergeGap) {
        silence.setStartTime(tracks_.back().startTime());
        tracks_.pop_back();
    }
    tracks_.push_back(silence);
    platform::Log::line("silenceFound: start: %lld end: %lld", static_cast<long long>(start), static_cast<long long>(end));
}

void SilenceDetector::mergeSilentTracks() {
    std::lock_guard guard(mLock);
    for (const SilenceObject& silence : tracks_) {
        if (silence.duration() >= static_cast<int64_t>(minSilence_))
            audioSegmentTree_->addSilenceSegmentFrom(static_cast<double>(silence.startTime()),
                                                     static_cast<double>(silence.endTime()));
        else
            platform::Log::line("********** Ignoring short silence (%f:%f)", static_cast<double>(silence.duration()),
                                static_cast<double>(minSilence_));
    }
}
