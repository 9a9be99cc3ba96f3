#pragma once

#include "platform/KeyedArchiver.h"

#include <cstdint>
#include <memory>
#include <string>

class AudioSegmentNode;

using SkipListObject = std::shared_ptr<AudioSegmentNode>;

// One stored object, followed in the same allocation by its forward links:
// slot i is the next node at level i. Only the slots up to the node's own level
// are allocated and read (the header has all 16); the level is not stored.
struct SkipListNode {
    SkipListObject object;
    SkipListNode** forward() { return reinterpret_cast<SkipListNode**>(this + 1); }
};

// Ordered container of segment nodes (ascending by AudioSegmentNode::compare,
// ties placed before the objects they tie with), with positional access through
// a one-entry finger so that a scan by rising index costs one step per object.
class SkipList final : public platform::Archivable {
public:
    static constexpr int MaxLevels = 16;
    static constexpr uint32_t NotFound = 0x7FFFFFFF;

    SkipList();
    ~SkipList() override;
    SkipList(const SkipList&) = delete;
    SkipList& operator=(const SkipList&) = delete;

    uint32_t count() const { return numElements; }
    const SkipListObject& firstObject() const;
    const SkipListObject& lastObject() const;
    // Inline: a scan by rising index is one step per call.
    const SkipListObject& objectAtIndex(uint32_t index) {
        if (index >= numElements) raiseRangeError();
        SkipListNode* node = header->forward()[0];
        uint32_t position = 0;
        if (lastFingeredObject && index >= lastFingeredIndex) {
            node = lastFingeredObject;
            position = lastFingeredIndex;
        }
        for (; position < index; ++position) node = node->forward()[0];
        lastFingeredObject = node;
        lastFingeredIndex = index;
        return node->object;
    }
    uint32_t indexOfObjectIdenticalTo(const AudioSegmentNode* object) const;

    void addObject(SkipListObject object);
    void removeObject(const SkipListObject& object);
    // Every object of `other` must order after every object of this list.
    void appendSkipList(SkipList& other);
    // The caller owns the returned tail: the first object that does not order
    // before `object`, and everything after it.
    std::shared_ptr<SkipList> splitSkipListAtObject(const AudioSegmentNode& object);
    void emptyList();

    // The single built-in enumeration; nextObject gives null at the end.
    void startEnumeration();
    SkipListObject nextObject();

    std::shared_ptr<SkipList> copy() const;
    std::string description() const;

    std::string archiveClassName() const override { return "SkipList"; }
    void encodeWithCoder(platform::Coder& coder) const override;
    static std::shared_ptr<SkipList> initWithCoder(platform::Coder& coder);

    // Inspection of the internal state, for the checks of the test suite.
    int32_t topLevel() const { return level; }
    const AudioSegmentNode* fingeredObject() const;
    uint32_t fingeredIndex() const { return lastFingeredIndex; }
    // Every level chain ordered and contained in the one below, header slots
    // above the top level empty, lastNode and count matching level 0.
    bool isWellFormed() const;

private:
    [[noreturn]] static void raiseRangeError();
    int32_t randomLevel();
    static SkipListNode* newNode(SkipListObject object, int32_t nodeLevel);
    static void freeNode(SkipListNode* node);
    void clearFinger();
    void resetToEmpty();

    SkipListNode* header;
    int32_t level = 0;
    uint32_t numElements = 0;
    SkipListNode* enumerationNode = nullptr;
    SkipListNode* lastNode = nullptr;
    SkipListNode* lastFingeredObject = nullptr;
    uint32_t lastFingeredIndex = 0;
    int32_t randomsLeft = 0;
    int32_t randomBits = 0;
};
