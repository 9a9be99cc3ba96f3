#include "segmentation/AudioSegmentNode.h"

#include <algorithm>
#include <cstdio>

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::audioSegmentNodeFrom(double start, double end) {
    return std::make_shared<AudioSegmentNode>(start, end, Audio);
}

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::silenceSegmentNodeFrom(double start, double end) {
    return std::make_shared<AudioSegmentNode>(start, end, Silence);
}

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::collectionSegmentNode() {
    return std::make_shared<AudioSegmentNode>(0.0, 0.0, Collection);
}

AudioSegmentNode::AudioSegmentNode(double start, double end, int32_t type)
    : mNodeType(type), mStartTime(start), mEndTime(end), mChildNodes(std::make_shared<SkipList>()) {}

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::copy() const {
    auto node = std::make_shared<AudioSegmentNode>(mStartTime, mEndTime, mNodeType);
    node->mDoesSplit = mDoesSplit;
    return node;
}

bool AudioSegmentNode::overlapsWith(const AudioSegmentNode& other) const {
    const AudioSegmentNode& first = other.mStartTime < mStartTime ? other : *this;
    const AudioSegmentNode& second = &first == this ? other : *this;
    return first.mEndTime >= second.mStartTime;
}

int32_t AudioSegmentNode::numberOfChildren() const { return static_cast<int32_t>(mChildNodes->count()); }

const std::shared_ptr<AudioSegmentNode>& AudioSegmentNode::childAtIndex(int32_t index) {
    return mChildNodes->objectAtIndex(static_cast<uint32_t>(index));
}

int32_t AudioSegmentNode::indexOfChild(const AudioSegmentNode* child) const {
    return static_cast<int32_t>(mChildNodes->indexOfObjectIdenticalTo(child));
}

void AudioSegmentNode::startEnumeration() { mChildNodes->startEnumeration(); }

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::nextObject() { return mChildNodes->nextObject(); }

void AudioSegmentNode::becomeCollection() {
    if (mNodeType == Collection) return;
    mChildNodes->addObject(copy());
    mNodeType = Collection;
}

void AudioSegmentNode::setSpanFromChildren() {
    if (mChildNodes->count() == 0) return;
    mStartTime.set(mChildNodes->firstObject()->startTime());
    mEndTime = mChildNodes->lastObject()->mEndTime;
}

void AudioSegmentNode::addNodeToChildren(std::shared_ptr<AudioSegmentNode> node) {
    if (!node) return;
    becomeCollection();

    bool fused = false;
    if (node->mNodeType == Silence) {
        // By position, not by the list's enumeration: a caller may be enumerating.
        for (uint32_t i = 0; i < mChildNodes->count() && !fused; ++i) {
            AudioSegmentNode& child = *mChildNodes->objectAtIndex(i);
            if (child.mNodeType == Silence && child.overlapsWith(*node)) {
                child.mStartTime.set(std::min(child.startTime(), node->startTime()));
                child.mEndTime = std::max(child.mEndTime, node->mEndTime);
                fused = true;
            }
        }
    }
    if (!fused) mChildNodes->addObject(std::move(node));
    setSpanFromChildren();
}

void AudioSegmentNode::mergeChildWithNeighbours(const std::shared_ptr<AudioSegmentNode>& child) {
    // Held here: removing a neighbour from this node's list drops the list's reference.
    std::shared_ptr<AudioSegmentNode> merged = child;
    int32_t index = indexOfChild(merged.get());
    std::shared_ptr<AudioSegmentNode> left = index > 0 ? childAtIndex(index - 1) : nullptr;
    std::shared_ptr<AudioSegmentNode> right = index < numberOfChildren() - 1 ? childAtIndex(index + 1) : nullptr;

    merged->becomeCollection();
    if (left) {
        if (left->mNodeType == Collection) {
            std::swap(merged->mChildNodes, left->mChildNodes);
            merged->mChildNodes->appendSkipList(*left->mChildNodes);
        } else {
            merged->addNodeToChildren(left);
        }
        mChildNodes->removeObject(left);
    }
    if (right) {
        if (right->mNodeType == Collection)
            merged->mChildNodes->appendSkipList(*right->mChildNodes);
        else
            merged->addNodeToChildren(right);
        mChildNodes->removeObject(right);
    }
    merged->setSpanFromChildren();
}

void AudioSegmentNode::unmergeNode(const std::shared_ptr<AudioSegmentNode>& node,
                                   const std::shared_ptr<AudioSegmentNode>& child) {
    std::shared_ptr<AudioSegmentNode> collection = child;
    std::shared_ptr<SkipList> before = collection->mChildNodes;
    std::shared_ptr<SkipList> after = before->splitSkipListAtObject(*node);
    std::shared_ptr<AudioSegmentNode> first = after->firstObject();

    collection->mNodeType = first->mNodeType;
    collection->mStartTime.set(first->startTime());
    collection->mEndTime = first->mEndTime;
    collection->mChildNodes = std::make_shared<SkipList>();
    after->removeObject(first);

    for (const std::shared_ptr<SkipList>& part : {before, after}) {
        if (part->count() == 1) {
            addNodeToChildren(part->firstObject());
        } else if (part->count() > 1) {
            auto group = collectionSegmentNode();
            group->mChildNodes = part;
            group->setSpanFromChildren();
            addNodeToChildren(group);
        }
    }
}

std::string AudioSegmentNode::typeName(int32_t nodeType) {
    switch (nodeType) {
        case Silence: return "Silence";
        case Audio: return "Audio";
        case Collection: return "Collection";
        default: return "";
    }
}

std::string AudioSegmentNode::description() const {
    std::string type = typeName(mNodeType);
    int length = snprintf(nullptr, 0, "nodeType = %s, numChildren = %d, startTime = %.2f, endTime = %.2f",
                          type.c_str(), numberOfChildren(), startTime(), mEndTime);
    std::string text(static_cast<size_t>(length), '\0');
    snprintf(text.data(), text.size() + 1, "nodeType = %s, numChildren = %d, startTime = %.2f, endTime = %.2f",
             type.c_str(), numberOfChildren(), startTime(), mEndTime);
    return text;
}

void AudioSegmentNode::encodeWithCoder(platform::Coder& coder) const {
    platform::KeyedArchiver& archiver = platform::requireKeyedArchiver(coder);
    archiver.encodeInt32("nodeType", mNodeType);
    archiver.encodeDouble("startTime", mStartTime);
    archiver.encodeDouble("endTime", mEndTime);
    archiver.encodeBool("doesSplit", mDoesSplit);
    archiver.encodeObject("childNodes", mChildNodes.get());
}

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::initWithCoder(platform::Coder& coder) {
    platform::KeyedUnarchiver& unarchiver = platform::requireKeyedUnarchiver(coder);
    auto node = std::make_shared<AudioSegmentNode>(unarchiver.decodeDouble("startTime"), unarchiver.decodeDouble("endTime"),
                                                   unarchiver.decodeInt32("nodeType"));
    node->mDoesSplit = unarchiver.decodeBool("doesSplit");
    node->mChildNodes = unarchiver.decodeObjectOfClass<SkipList>("childNodes");
    return node;
}
