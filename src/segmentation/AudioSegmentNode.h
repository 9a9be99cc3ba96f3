#pragma once

#include "platform/KeyedArchiver.h"
#include "segmentation/SkipList.h"

#include <cstdint>
#include <memory>
#include <string>

// A span of a recording: a silence, an audio stretch, or a collection grouping
// neighbouring nodes. Times are in whatever unit the tree's feeders use (sample
// frames in this system). A node keeps its identity when it changes type, so
// references held elsewhere stay valid.
class AudioSegmentNode final : public platform::Archivable {
public:
    enum : int32_t { Silence = 0, Audio = 1, Collection = 2 };
    static constexpr int32_t NotFound = 0x7FFFFFFF;

    static std::shared_ptr<AudioSegmentNode> audioSegmentNodeFrom(double start, double end);
    static std::shared_ptr<AudioSegmentNode> silenceSegmentNodeFrom(double start, double end);
    static std::shared_ptr<AudioSegmentNode> collectionSegmentNode();

    AudioSegmentNode(double start, double end, int32_t type);

    // Same type, span and split flag, with an empty child list of its own.
    std::shared_ptr<AudioSegmentNode> copy() const;

    // -1 when `other` starts later than this node, otherwise +1; never 0.
    int32_t compare(const AudioSegmentNode& other) const { return other.mStartTime > mStartTime ? -1 : 1; }
    bool overlapsWith(const AudioSegmentNode& other) const;

    // The start time with the copies kept by the skip lists that hold this node.
    const SkipListKey& sortKey() const { return mStartTime; }
    int32_t nodeType() const { return mNodeType; }
    double startTime() const { return mStartTime; }
    double endTime() const { return mEndTime; }
    double duration() const { return mEndTime - mStartTime; }
    bool doesSplit() const { return mDoesSplit; }
    void setDoesSplit(bool doesSplit) { mDoesSplit = doesSplit; }

    int32_t numberOfChildren() const;
    const std::shared_ptr<AudioSegmentNode>& childAtIndex(int32_t index);
    int32_t indexOfChild(const AudioSegmentNode* child) const;
    void startEnumeration();
    std::shared_ptr<AudioSegmentNode> nextObject();
    SkipList& childNodes() { return *mChildNodes; }
    const SkipList& childNodes() const { return *mChildNodes; }

    // Adds `node` in start order, fusing a silence into the first overlapping
    // silence child; a leaf receiving a child becomes a collection headed by a
    // copy of its former self.
    void addNodeToChildren(std::shared_ptr<AudioSegmentNode> node);
    // Turns `child` into a collection that absorbs its two neighbours.
    void mergeChildWithNeighbours(const std::shared_ptr<AudioSegmentNode>& child);
    // Splits collection `child` around `node`: `child` takes the place (type and
    // span) of `node`, the nodes before and after it become its neighbours.
    void unmergeNode(const std::shared_ptr<AudioSegmentNode>& node, const std::shared_ptr<AudioSegmentNode>& child);

    static std::string typeName(int32_t nodeType);
    std::string description() const;

    std::string archiveClassName() const override { return "AudioSegmentNode"; }
    void encodeWithCoder(platform::Coder& coder) const override;
    static std::shared_ptr<AudioSegmentNode> initWithCoder(platform::Coder& coder);

private:
    void becomeCollection();
    void setSpanFromChildren();

    int32_t mNodeType;
    SkipListKey mStartTime;
    double mEndTime;
    bool mDoesSplit = false;
    std::shared_ptr<SkipList> mChildNodes;
};
