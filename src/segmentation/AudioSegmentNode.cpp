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
    : nodeType_(type), startTime_(start), endTime_(end), childNodes_(std::make_shared<SkipList>()) {}

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::copy() const {
    auto node = std::make_shared<AudioSegmentNode>(startTime_, endTime_, nodeType_);
    node->doesSplit_ = doesSplit_;
    return node;
}

bool AudioSegmentNode::overlapsWith(const AudioSegmentNode& other) const {
    const AudioSegmentNode& first = other.startTime_ < startTime_ ? other : *this;
    const AudioSegmentNode& second = &first == this ? other : *this;
    return first.endTime_ >= second.startTime_;
}

int32_t AudioSegmentNode::numberOfChildren() const { return static_cast<int32_t>(childNodes_->count()); }

const std::shared_ptr<AudioSegmentNode>& AudioSegmentNode::childAtIndex(int32_t index) {
    return childNodes_->objectAtIndex(static_cast<uint32_t>(index));
}

int32_t AudioSegmentNode::indexOfChild(const AudioSegmentNode* child) const {
    return static_cast<int32_t>(childNodes_->indexOfObjectIdenticalTo(child));
}

void AudioSegmentNode::startEnumeration() { childNodes_->startEnumeration(); }

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::nextObject() { return childNodes_->nextObject(); }

void AudioSegmentNode::becomeCollection() {
    if (nodeType_ == Collection) return;
    childNodes_->addObject(copy());
    nodeType_ = Collection;
}

void AudioSegmentNode::setSpanFromChildren() {
    if (childNodes_->count() == 0) return;
    startTime_.set(childNodes_->firstObject()->startTime());
    endTime_ = childNodes_->lastObject()->endTime_;
}

void AudioSegmentNode::addNodeToChildren(std::shared_ptr<AudioSegmentNode> node) {
    if (!node) return;
    becomeCollection();

    bool fused = false;
    if (node->nodeType_ == Silence) {
        // By position, not by the list's enumeration: a caller may be enumerating.
        for (uint32_t i = 0; i < childNodes_->count() && !fused; ++i) {
            AudioSegmentNode& child = *childNodes_->objectAtIndex(i);
            if (child.nodeType_ == Silence && child.overlapsWith(*node)) {
                child.startTime_.set(std::min(child.startTime(), node->startTime()));
                child.endTime_ = std::max(child.endTime_, node->endTime_);
                fused = true;
            }
        }
    }
    if (!fused) childNodes_->addObject(std::move(node));
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
        if (left->nodeType_ == Collection) {
            std::swap(merged->childNodes_, left->childNodes_);
            merged->childNodes_->appendSkipList(*left->childNodes_);
        } else {
            merged->addNodeToChildren(left);
        }
        childNodes_->removeObject(left);
    }
    if (right) {
        if (right->nodeType_ == Collection)
            merged->childNodes_->appendSkipList(*right->childNodes_);
        else
            merged->addNodeToChildren(right);
        childNodes_->removeObject(right);
    }
    merged->setSpanFromChildren();
}

void AudioSegmentNode::unmergeNode(const std::shared_ptr<AudioSegmentNode>& node,
                                   const std::shared_ptr<AudioSegmentNode>& child) {
    std::shared_ptr<AudioSegmentNode> collection = child;
    std::shared_ptr<SkipList> before = collection->childNodes_;
    std::shared_ptr<SkipList> after = before->splitSkipListAtObject(*node);
    std::shared_ptr<AudioSegmentNode> first = after->firstObject();

    collection->nodeType_ = first->nodeType_;
    collection->startTime_.set(first->startTime());
    collection->endTime_ = first->endTime_;
    collection->childNodes_ = std::make_shared<SkipList>();
    after->removeObject(first);

    for (const std::shared_ptr<SkipList>& part : {before, after}) {
        if (part->count() == 1) {
            addNodeToChildren(part->firstObject());
        } else if (part->count() > 1) {
            auto group = collectionSegmentNode();
            group->childNodes_ = part;
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
    std::string type = typeName(nodeType_);
    int length = snprintf(nullptr, 0, "nodeType = %s, numChildren = %d, startTime = %.2f, endTime = %.2f",
                          type.c_str(), numberOfChildren(), startTime(), endTime_);
    std::string text(static_cast<size_t>(length), '\0');
    snprintf(text.data(), text.size() + 1, "nodeType = %s, numChildren = %d, startTime = %.2f, endTime = %.2f",
             type.c_str(), numberOfChildren(), startTime(), endTime_);
    return text;
}

void AudioSegmentNode::encodeWithCoder(platform::Coder& coder) const {
    platform::KeyedArchiver& archiver = platform::requireKeyedArchiver(coder);
    archiver.encodeInt32("nodeType", nodeType_);
    archiver.encodeDouble("startTime", startTime_);
    archiver.encodeDouble("endTime", endTime_);
    archiver.encodeBool("doesSplit", doesSplit_);
    archiver.encodeObject("childNodes", childNodes_.get());
}

std::shared_ptr<AudioSegmentNode> AudioSegmentNode::initWithCoder(platform::Coder& coder) {
    platform::KeyedUnarchiver& unarchiver = platform::requireKeyedUnarchiver(coder);
    auto node = std::make_shared<AudioSegmentNode>(unarchiver.decodeDouble("startTime"), unarchiver.decodeDouble("endTime"),
                                                   unarchiver.decodeInt32("nodeType"));
    node->doesSplit_ = unarchiver.decodeBool("doesSplit");
    node->childNodes_ = unarchiver.decodeObjectOfClass<SkipList>("childNodes");
    return node;
}
