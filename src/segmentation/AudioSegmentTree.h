#pragma once

#include "platform/AudioConstants.h"
#include "platform/KeyedArchiver.h"
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/AudioSlice.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern const char* const AudioSegmentTreeDidChangeNotification;

// The segmentation model of one recording, in two views: a root collection of
// silence, audio and merged segments in start order, and the slices (track
// candidates) between split silences. All times are sample frames of the
// recording, as the feeders deliver them; the tree converts nothing except the
// minimum track duration, which is given in seconds.
//
// No lock: one thread at a time, in phases (filling while recording or
// importing, then processing).
class AudioSegmentTree final : public platform::Archivable,
                               public std::enable_shared_from_this<AudioSegmentTree> {
    struct Token {
        explicit Token() = default;
    };

public:
    using NodePtr = std::shared_ptr<AudioSegmentNode>;
    using SlicePtr = std::shared_ptr<AudioSlice>;
    static constexpr int32_t NotFound = 0x7FFFFFFF;
    static constexpr double SampleRate = platform::kCaptureSampleRate;
    // Default of the minimum track duration preference, in seconds.
    static constexpr double DefaultMinimumTrackDuration = 30.0;

    // A new tree: empty root, one expanded slice "My Track" without silences.
    static std::shared_ptr<AudioSegmentTree> create();
    explicit AudioSegmentTree(Token);

    const NodePtr& rootNode() const { return mRootNode; }
    double duration() const { return mDuration; }
    void setDuration(double duration) { mDuration = duration; }

    double minSilenceDuration() const { return mMinSilenceDuration; }
    double maxSilenceDuration() const { return mMaxSilenceDuration; }
    // Changing a bound re-runs reorder; an unchanged value does nothing.
    void setMinSilenceDuration(double duration);
    void setMaxSilenceDuration(double duration);
    void setSilenceRangeMin(double min, double max);
    double shortestSilenceInTree() const { return mShortestSilence; }
    double longestSilenceInTree() const { return mLongestSilence; }

    // Minimum track duration in seconds for performAutoDefine (the caller
    // passes the user's ZORAutoDefineMinTrackDurationKey); default 30.
    double minimumTrackDuration() const { return mMinimumTrackDuration; }
    void setMinimumTrackDuration(double seconds) { mMinimumTrackDuration = seconds; }

    // A silence overlapping one already at the root is fused into it; the
    // returned node is then not part of the tree. No notification.
    NodePtr addSilenceSegmentFrom(double start, double end);
    NodePtr addAudioSegmentFrom(double start, double end);
    int32_t numberOfAudioSegments() const;
    const NodePtr& audioSegmentAtIndex(int32_t index) const;

    int32_t numberOfSlices() const { return static_cast<int32_t>(mSlices.size()); }
    const SlicePtr& sliceAtIndex(int32_t index) const;
    int32_t indexOfSlice(const AudioSlice* slice) const;
    // Removes only that slice; the caller restores the slice invariants.
    void removeSliceAtIndex(int32_t index);
    int32_t indexOfSliceForAudioSegment(const AudioSegmentNode& node) const;

    void setSplitPointAtNode(const NodePtr& node);
    void setSplitPointAtNode(const NodePtr& node, const SlicePtr& slice);
    void clearSplitPointAtNode(const NodePtr& node);
    // The root children that make up a slice: from the one after its left split
    // silence to the one before its right split silence (a split silence merged
    // into a collection counts as that collection, which the slice shares).
    int32_t numberOfAudioSegmentsInSlice(const AudioSlice& slice) const;
    const NodePtr& audioSegmentAtIndex(int32_t index, const AudioSlice& slice) const;

    // The processing steps, in this order.
    void createAudioSegmentsBetweenSilences();
    void splitSilencesToTracks();
    void performAutoDefine();

    void reorder();
    void calculateMinMaxSilenceDurations();
    void treeDidChange();
    // Also logs a histogram of silence lengths.
    std::string description() const;

    // The split-off title of a slice titled `title`: "Song" -> "Song Copy",
    // "Song Copy" -> "Song Copy 1", "Song Copy 1" -> "Song Copy 2".
    static std::optional<std::string> titleForCopyOf(const std::optional<std::string>& title);

    std::string archiveClassName() const override { return "AudioSegmentTree"; }
    void encodeWithCoder(platform::Coder& coder) const override;
    static std::shared_ptr<AudioSegmentTree> initWithCoder(platform::Coder& coder);
    // Registers the classes of a segment tree's archive with `unarchiver`.
    static void registerArchiveClasses(platform::KeyedUnarchiver& unarchiver);
    // A whole tree as an archive dictionary, and back (null for a malformed archive).
    static platform::PropertyList archive(const AudioSegmentTree& tree);
    static std::shared_ptr<AudioSegmentTree> unarchive(const platform::PropertyList& archive);

private:
    // Position among the root's children of `node`, or of the collection that
    // holds it; `whenMissing` for a null node or one the tree does not hold.
    int32_t rootIndexOf(const NodePtr& node, int32_t whenMissing) const;
    int32_t firstSegmentIndex(const AudioSlice& slice) const;
    int32_t lastSegmentIndex(const AudioSlice& slice) const;
    template <class Visit>
    void forEachSilence(Visit visit) const;

    std::vector<SlicePtr> mSlices;
    NodePtr mRootNode;
    double mDuration = 0.0;
    double mMinSilenceDuration = 1.0;
    double mMaxSilenceDuration = 60.0;
    double mShortestSilence = 0.0;
    double mLongestSilence = 0.0;
    double mMinimumTrackDuration = DefaultMinimumTrackDuration;
};
