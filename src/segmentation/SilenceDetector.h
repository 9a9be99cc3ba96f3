#pragma once

#include "platform/AudioConstants.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/SilenceObject.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Finds silences in a recording as it is written, and turns them into silence
// segments of the recording's segment tree. Owned by the capture recorder and
// the file importer alike; each feeds it the interleaved two-channel float
// frames (44100 Hz) it writes, in order.
//
// A silence is a run of more than min(minSilence / 4, 13230) frames in which
// every sample lies within [-silenceThreshold, silenceThreshold]; it ends at the
// first loud sample. A silence that starts less than 4410 frames after the
// previous one ended absorbs it. mergeSilentTracks then adds every silence of at
// least minSilence frames to the tree.
//
// Every operation locks, so the writer thread may feed blocks while another
// thread reads the results; the tree itself is handed out unlocked and must be
// used in the phases its own comment describes.
class SilenceDetector {
public:
    static constexpr double SampleRate = platform::kCaptureSampleRate;
    static constexpr uint32_t LongRunCap = 13230;
    static constexpr int64_t MergeGap = 4410;

    // The recorder starts with 0.001 and 0.25 s; the importer with 0 and 0.
    SilenceDetector(float silenceThreshold, float lengthOfSilence);
    SilenceDetector(const SilenceDetector&) = delete;
    SilenceDetector& operator=(const SilenceDetector&) = delete;

    float silenceThreshold() const;
    void setSilenceThreshold(float threshold);
    // Seconds.
    float lengthOfSilence() const;
    void setLengthOfSilence(float seconds);

    // Scans `frameCount` frames (2 samples each) that follow the frames already
    // scanned. Null `samples` counts the frames without scanning them. The
    // tree's duration grows to the end of the block.
    void detectSilence(const float* samples, uint32_t frameCount);
    // The same for a block that begins at frame `firstFrame` of the recording:
    // frames skipped since the last block are counted without being scanned,
    // frames scanned before are not scanned again.
    void detectSilence(const float* samples, uint32_t frameCount, int64_t firstFrame);
    // For a writer that does not scan: the number of frames recorded so far.
    void setRecordedFrames(int64_t frames);

    void mergeSilentTracks();

    std::shared_ptr<AudioSegmentTree> audioSegmentTree() const { return mAudioSegmentTree; }
    std::vector<SilenceObject> tracks() const;
    // lengthOfSilence in frames, as of the last detectSilence (0 before).
    uint32_t minSilence() const;
    // Frames counted so far.
    int64_t sampleOffset() const;

private:
    void scan(const float* samples, uint32_t frameCount);
    void emitSilence(int64_t start, int64_t end);
    void coverInTree();

    mutable std::mutex mLock;
    float mSilenceThreshold;
    float mLengthOfSilence;
    uint32_t mMinSilence = 0;
    int64_t mSampleOffset = 0;
    int64_t mSilenceTrackingStart = 0;
    bool mTrackingSilence = false;
    bool mSilenceFound = false;
    std::vector<SilenceObject> mTracks;
    std::shared_ptr<AudioSegmentTree> mAudioSegmentTree;
};
