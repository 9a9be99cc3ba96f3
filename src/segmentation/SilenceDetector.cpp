#include "segmentation/SilenceDetector.h"

#include "platform/Log.h"

#include <algorithm>
#include <bit>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t ChunkFrames = 32;

uint32_t framesFromSeconds(float seconds) {
    float frames = seconds * static_cast<float>(SilenceDetector::SampleRate);
    if (!(frames > 0.0f)) return 0;
    if (frames >= 4294967295.0f) return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

// Quiet is -threshold <= s <= threshold; a value that fails both comparisons
// (not a number) counts as quiet too, which is exactly "not |s| > threshold".
inline bool isLoud(float sample, float threshold) { return std::fabs(sample) > threshold; }

// Bit k set when sample k (of at most 64, that is 32 frames) is loud. Whole
// chunks are classified four samples at a time, at memory speed.
inline uint64_t loudMask(const float* samples, uint32_t count, float threshold) {
#ifdef __SSE2__
    if (count == 2 * ChunkFrames) {
        const __m128 thresholds = _mm_set1_ps(threshold);
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        uint64_t mask = 0;
        for (uint32_t k = 0; k < count; k += 4) {
            __m128 values = _mm_and_ps(_mm_loadu_ps(samples + k), magnitude);
            mask |= static_cast<uint64_t>(_mm_movemask_ps(_mm_cmpgt_ps(values, thresholds))) << k;
        }
        return mask;
    }
#endif
    uint64_t mask = 0;
    for (uint32_t k = 0; k < count; ++k) mask |= static_cast<uint64_t>(isLoud(samples[k], threshold)) << k;
    return mask;
}

}  // namespace

SilenceDetector::SilenceDetector(float silenceThreshold, float lengthOfSilence)
    : mSilenceThreshold(silenceThreshold), mLengthOfSilence(lengthOfSilence), mAudioSegmentTree(AudioSegmentTree::create()) {}

float SilenceDetector::silenceThreshold() const {
    std::lock_guard guard(mLock);
    return mSilenceThreshold;
}

void SilenceDetector::setSilenceThreshold(float threshold) {
    std::lock_guard guard(mLock);
    mSilenceThreshold = threshold;
}

float SilenceDetector::lengthOfSilence() const {
    std::lock_guard guard(mLock);
    return mLengthOfSilence;
}

void SilenceDetector::setLengthOfSilence(float seconds) {
    std::lock_guard guard(mLock);
    mLengthOfSilence = seconds;
}

uint32_t SilenceDetector::minSilence() const {
    std::lock_guard guard(mLock);
    return mMinSilence;
}

int64_t SilenceDetector::sampleOffset() const {
    std::lock_guard guard(mLock);
    return mSampleOffset;
}

std::vector<SilenceObject> SilenceDetector::tracks() const {
    std::lock_guard guard(mLock);
    return mTracks;
}

void SilenceDetector::detectSilence(const float* samples, uint32_t frameCount) {
    std::lock_guard guard(mLock);
    if (frameCount == 0) return;
    mMinSilence = framesFromSeconds(mLengthOfSilence);
    scan(samples, frameCount);
    coverInTree();
}

void SilenceDetector::detectSilence(const float* samples, uint32_t frameCount, int64_t firstFrame) {
    std::lock_guard guard(mLock);
    if (frameCount == 0) return;
    mMinSilence = framesFromSeconds(mLengthOfSilence);
    mSampleOffset = std::max(mSampleOffset, firstFrame);
    int64_t alreadyScanned = mSampleOffset - firstFrame;
    if (alreadyScanned < frameCount) {
        uint32_t skip = static_cast<uint32_t>(alreadyScanned);
        scan(samples ? samples + 2 * static_cast<size_t>(skip) : nullptr, frameCount - skip);
    }
    coverInTree();
}

void SilenceDetector::setRecordedFrames(int64_t frames) {
    std::lock_guard guard(mLock);
    mAudioSegmentTree->setDuration(static_cast<double>(frames));
}

void SilenceDetector::coverInTree() {
    if (mAudioSegmentTree->duration() < static_cast<double>(mSampleOffset))
        mAudioSegmentTree->setDuration(static_cast<double>(mSampleOffset));
}

void SilenceDetector::scan(const float* samples, uint32_t frameCount) {
    if (!samples) {
        mSampleOffset += frameCount;
        return;
    }
    const float threshold = mSilenceThreshold;
    const int64_t limit = std::min(mMinSilence / 4, LongRunCap);
    // The state lives in locals while scanning; the members are written back at the end.
    int64_t offset = mSampleOffset;
    int64_t start = mSilenceTrackingStart;
    bool tracking = mTrackingSilence;
    bool found = mSilenceFound;

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

    // Frames that cannot change the state are counted, not walked: loud ones
    // while no run is followed, quiet ones while one is.
    for (uint32_t frame = 0; frame < frameCount;) {
        const uint32_t window = std::min(ChunkFrames, frameCount - frame);
        const float* chunk = samples + 2 * static_cast<size_t>(frame);
        const uint64_t loud = loudMask(chunk, 2 * window, threshold);
        for (uint32_t i = 0; i < window;) {
            const uint32_t rest = 2 * (window - i);
            const uint64_t all = rest == 64 ? UINT64_MAX : (uint64_t{1} << rest) - 1;
            const uint64_t ahead = (loud >> (2 * i)) & all;
            uint32_t skip;
            if (!tracking)
                skip = ahead == all ? window - i : static_cast<uint32_t>(std::countr_zero(~ahead)) / 2;
            else
                skip = ahead == 0 ? window - i : static_cast<uint32_t>(std::countr_zero(ahead)) / 2;
            if (skip > 0) {
                offset += skip;
                i += skip;
                if (tracking && offset - 1 - start > limit) found = true;
                continue;
            }
            sample(chunk[2 * i]);
            sample(chunk[2 * i + 1]);
            ++offset;
            ++i;
        }
        frame += window;
    }
    mSampleOffset = offset;
    mSilenceTrackingStart = start;
    mTrackingSilence = tracking;
    mSilenceFound = found;
}

void SilenceDetector::emitSilence(int64_t start, int64_t end) {
    SilenceObject silence(start, end);
    if (!mTracks.empty() && silence.startTime() - mTracks.back().endTime() < MergeGap) {
        silence.setStartTime(mTracks.back().startTime());
        mTracks.pop_back();
    }
    mTracks.push_back(silence);
    platform::Log::debug("silenceFound: start: %lld end: %lld", static_cast<long long>(start), static_cast<long long>(end));
}

void SilenceDetector::mergeSilentTracks() {
    std::lock_guard guard(mLock);
    for (const SilenceObject& silence : mTracks) {
        if (silence.duration() >= static_cast<int64_t>(mMinSilence))
            mAudioSegmentTree->addSilenceSegmentFrom(static_cast<double>(silence.startTime()),
                                                     static_cast<double>(silence.endTime()));
        else
            platform::Log::debug("********** Ignoring short silence (%f:%f)", static_cast<double>(silence.duration()),
                                 static_cast<double>(mMinSilence));
    }
}
