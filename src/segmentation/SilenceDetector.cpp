#include "segmentation/SilenceDetector.h"

#include "platform/Log.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t ChunkFrames = 8;

uint32_t framesFromSeconds(float seconds) {
    float frames = seconds * static_cast<float>(SilenceDetector::SampleRate);
    if (!(frames > 0.0f)) return 0;
    if (frames >= 4294967295.0f) return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

// Quiet is -threshold <= s <= threshold; a value that fails both comparisons
// (not a number) counts as quiet too, which is exactly "not |s| > threshold".
inline bool isLoud(float sample, float threshold) { return std::fabs(sample) > threshold; }

// Loud samples in one chunk; written branch-free so that it vectorises.
inline uint32_t loudSamples(const float* samples, float threshold) {
    uint32_t loud = 0;
    for (uint32_t k = 0; k < 2 * ChunkFrames; ++k) loud += isLoud(samples[k], threshold);
    return loud;
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
    const int64_t limit = std::min(minSilence_ / 4, LongRunCap);

    auto sample = [&](float value) {
        if (!isLoud(value, threshold)) {
            if (!trackingSilence_) {
                trackingSilence_ = true;
                silenceTrackingStart_ = sampleOffset_;
            }
            if (sampleOffset_ - silenceTrackingStart_ > limit) silenceFound_ = true;
        } else if (trackingSilence_ && !silenceFound_) {
            trackingSilence_ = false;
            silenceTrackingStart_ = sampleOffset_;
        } else if (trackingSilence_) {
            emitSilence();
        }
    };

    uint32_t frame = 0;
    while (frame < frameCount) {
        // Whole chunks that cannot change the state are counted, not walked:
        // all loud while no run is followed, all quiet while one is.
        if (frameCount - frame >= ChunkFrames) {
            uint32_t loud = loudSamples(samples + 2 * static_cast<size_t>(frame), threshold);
            if ((!trackingSilence_ && loud == 2 * ChunkFrames) || (trackingSilence_ && loud == 0)) {
                sampleOffset_ += ChunkFrames;
                if (trackingSilence_ && sampleOffset_ - 1 - silenceTrackingStart_ > limit) silenceFound_ = true;
                frame += ChunkFrames;
                continue;
            }
        }
        sample(samples[2 * static_cast<size_t>(frame)]);
        sample(samples[2 * static_cast<size_t>(frame) + 1]);
        ++sampleOffset_;
        ++frame;
    }
}

void SilenceDetector::emitSilence() {
    SilenceObject silence(silenceTrackingStart_, sampleOffset_);
    if (!tracks_.empty() && silence.startTime() - tracks_.back().endTime() < MergeGap) {
        silence.setStartTime(tracks_.back().startTime());
        tracks_.pop_back();
    }
    tracks_.push_back(silence);
    platform::Log::line("silenceFound: start: %lld end: %lld", static_cast<long long>(silenceTrackingStart_),
                        static_cast<long long>(sampleOffset_));
    trackingSilence_ = false;
    silenceFound_ = false;
    silenceTrackingStart_ = sampleOffset_;
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
