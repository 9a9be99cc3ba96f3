#pragma once

#include "platform/KeyedArchiver.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class AudioSegmentNode;
class SkipList;
struct SkipListNode;

using SkipListObject = std::shared_ptr<AudioSegmentNode>;

// An object's sort key (a segment node's start time), together with the copies
// that skip lists keep of it in their nodes, so that a search compares keys
// without visiting the objects. The key changes only through `set`, which keeps
// every copy exact, and which first has a list still holding the object among
// its unplaced additions place them, by the keys they were added with.
class SkipListKey {
public:
    explicit SkipListKey(double value) : value(value) {}
    SkipListKey(const SkipListKey&) = delete;
    SkipListKey& operator=(const SkipListKey&) = delete;

    operator double() const { return value; }
    void set(double newValue);

private:
    friend class SkipList;
    // The copies are bookkeeping of the lists, not part of the key's value.
    void attach(SkipListNode* copy) const;
    void detach(SkipListNode* copy) const;
    template <typename Visit>
    void forEachCopy(Visit visit) const;

    double value;
    mutable SkipListNode* firstCopy = nullptr;
    // Rarely used (an object held by several lists), so kept out of line.
    mutable std::unique_ptr<std::vector<SkipListNode*>> otherCopies;
};

// One stored object and an exact copy of its key, followed in the same
// allocation by its forward links: slot i is the next node at level i. Only the
// slots up to the node's own level are allocated and read (the header has all
// 16); the level is not stored. Until the list places a node added to it, slot
// 0 names that list instead, marked by its lowest bit.
struct SkipListNode {
    double key;
    SkipListObject object;
    SkipListNode** forward() { return reinterpret_cast<SkipListNode**>(this + 1); }
    void markUnplacedIn(const SkipList* list) {
        forward()[0] = reinterpret_cast<SkipListNode*>(reinterpret_cast<uintptr_t>(list) | 1);
    }
    const SkipList* unplacedIn() {
        auto bits = reinterpret_cast<uintptr_t>(forward()[0]);
        return bits & 1 ? reinterpret_cast<const SkipList*>(bits - 1) : nullptr;
    }
};

// Ordered container of segment nodes (ascending by AudioSegmentNode::compare,
// ties placed before the objects they tie with), with positional access: a scan
// by rising index costs one step per object and records the nodes it passes by
// position, so that any recorded position is reached again at once, forwards
// or backwards, until the list changes. The finger is the node returned last.
//
// Objects added to an empty list are placed together when the list is next
// looked at, sorted at once instead of searched for one by one, which in a
// large list would cost a cache miss at nearly every step. The result is the
// list that adding them one by one would have built, node levels included: the
// levels are drawn as each object is added, and nothing compares keys between
// an addition and its placement, since a key changes only after its lists have
// placed their additions.
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
    // Inline: within the recorded positions this is one load.
    const SkipListObject& objectAtIndex(uint32_t index) {
        if (index >= numElements) raiseRangeError();
        // Unplaced additions leave nothing recorded, so they take the walk.
        SkipListNode* node = index < walked ? position(index) : walkTo(index);
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

    // Every level chain ordered and contained in the one below, header slots
    // above the top level empty, lastNode and count matching level 0, every
    // node's key equal to its object's.
    bool isWellFormed() const;

private:
    friend class SkipListKey;

    // Lists of WarmListMinimum objects or more (too many for the caches) walk
    // ahead of a scan; walks of WarmMinimum positions or more run in WarmLanes
    // lanes over the stretches between nodes of level WarmLevel (one node in
    // 16), with at most WarmWindow stretches ahead of the recorded prefix, so
    // that the nodes are still cached (and their pages mapped in the TLB) when
    // they are recorded.
    static constexpr uint32_t WarmListMinimum = 1u << 14;
    static constexpr int WarmLevel = 2;
    static constexpr uint32_t WarmWindow = 128;
    static constexpr int WarmLanes = 24;
    static constexpr uint32_t WarmMinimum = 256;

    [[noreturn]] static void raiseRangeError();
    int32_t randomLevel();
    static SkipListNode* newNode(SkipListObject object, int32_t nodeLevel);
    static void freeNode(SkipListNode* node);
    void insert(SkipListNode* node, int32_t nodeLevel) const;
    // Never throws (see `positions`); without memory to sort in, it searches.
    void placeAdditions() const noexcept;
    void clearFinger();
    void forgetPositions();
    void sizePositions();
    void resetToEmpty();
    SkipListNode* position(uint32_t index) const { return reinterpret_cast<SkipListNode*>(positions[index]); }
    SkipListNode* walkTo(uint32_t index);
    SkipListNode* walkAheadTo(uint32_t index);
    SkipListNode* record(SkipListNode* node, const SkipListNode* stop, uint32_t goal);
    SkipListNode* walkInLanes(SkipListNode* node, uint32_t goal);

    SkipListNode* header;
    int32_t level = 0;
    uint32_t numElements = 0;
    SkipListNode* enumerationNode = nullptr;
    mutable SkipListNode* lastNode = nullptr;
    SkipListNode* lastFingeredObject = nullptr;
    uint32_t lastFingeredIndex = 0;
    int32_t randomsLeft = 0;
    int32_t randomBits = 0;
    // positions[i] is the node at position i for i below `walked`: the prefix
    // recorded since the last change of the list. The storage grows with the
    // count (a change forgets its content anyway), so that positional access
    // calls nothing that may throw: such a call in a caller's loop costs it its
    // floating-point registers. Held as integers, a stored position cannot be
    // taken to change a node pointer such as the finger, which a caller's loop
    // may then keep in a register.
    //
    // While additions wait to be placed (nothing is recorded then), their
    // nodes are held here instead, in the order of addition, each with its
    // level in the low bits.
    std::unique_ptr<uintptr_t[]> positions;
    uint32_t positionsCapacity = 0;
    mutable uint32_t unplaced = 0;
    uint32_t walked = 0;
    // Positions added by the current run of accesses just past the recorded
    // prefix; a scan by rising index thus walks ahead in doubling steps.
    uint32_t scanRun = 0;
    // The first node of level WarmLevel or higher behind the recorded prefix
    // (in lists of WarmListMinimum objects or more).
    SkipListNode* nextAnchor = nullptr;
};

// Returns the node at `index`, at or past the recorded prefix. In a list that
// fits the caches, the walk starts from the finger or the end of the prefix,
// whichever is nearer, at one load per step, and only an access just past the
// prefix (a scan) records its node; a scan thus steps on from the finger, and a
// jump costs no more than a plain walk. Large lists walk ahead.
inline SkipListNode* SkipList::walkTo(uint32_t index) {
    if (unplaced) placeAdditions();
    if (numElements >= WarmListMinimum) return walkAheadTo(index);
    SkipListNode* node = walked ? position(walked - 1) : header;
    uint32_t steps = index + 1 - walked;
    if (lastFingeredObject && lastFingeredIndex < index && lastFingeredIndex + 1 >= walked) {
        node = lastFingeredObject;
        steps = index - lastFingeredIndex;
    }
    for (; steps > 0; --steps) node = node->forward()[0];
    if (index == walked) positions[walked++] = reinterpret_cast<uintptr_t>(node);
    return node;
}

// A large list records every walk, in lanes once far enough: a scan walks
// ahead in doubling steps, a jump just to the index.
inline SkipListNode* SkipList::walkAheadTo(uint32_t index) {
    if (walked == 0) nextAnchor = header->forward()[WarmLevel];
    uint32_t goal = index + 1;
    if (index == walked) {
        goal += scanRun;
        scanRun += goal - walked;
    } else {
        scanRun = 0;
    }
    if (goal > numElements) goal = numElements;
    SkipListNode* node = walked ? position(walked - 1) : header;
    if (nextAnchor && goal - walked >= WarmMinimum) node = walkInLanes(node, goal);
    record(node, nullptr, goal);
    return position(index);
}

// Records the nodes behind `node` until `goal` positions are recorded or the
// next node is `stop`; returns the last node recorded.
inline SkipListNode* SkipList::record(SkipListNode* node, const SkipListNode* stop, uint32_t goal) {
    while (walked < goal && node->forward()[0] != stop) {
        node = node->forward()[0];
        positions[walked++] = reinterpret_cast<uintptr_t>(node);
        if (node == nextAnchor) nextAnchor = node->forward()[WarmLevel];
    }
    return node;
}

// The nodes of level WarmLevel and up cut level 0 into segments that can be
// walked independently. Lanes walk several at once, so that their cache misses
// overlap, and the ordered walk records each segment behind them from the cache.
inline SkipListNode* SkipList::walkInLanes(SkipListNode* node, uint32_t goal) {
    constexpr uint32_t Span = 1u << (2 * WarmLevel);  // expected nodes per segment
    // Segment s runs from bound(s) up to bound(s + 1), null being the end.
    SkipListNode* bounds[WarmWindow];
    bool done[WarmWindow] = {};
    auto bound = [&](uint32_t s) -> SkipListNode*& { return bounds[s % WarmWindow]; };
    bound(0) = node;
    bound(1) = nextAnchor;
    uint32_t produced = 2, assigned = 0, recorded = 0;
    SkipListNode* cursor[WarmLanes];
    uint32_t segment[WarmLanes];
    int lanes = 0;
    while (walked < goal) {
        // The anchors run ahead about as far as the walk still has to go.
        SkipListNode* last = bound(produced - 1);
        if (last && produced - recorded < WarmWindow && (produced - recorded - 1) * Span <= goal - walked) {
            bound(produced) = last->forward()[WarmLevel];
            ++produced;
        }
        for (int lane = 0; lane < lanes;) {
            SkipListNode* next = cursor[lane]->forward()[0];
            if (next != bound(segment[lane] + 1)) {
                cursor[lane++] = next;
            } else {
                done[segment[lane] % WarmWindow] = true;
                --lanes;
                cursor[lane] = cursor[lanes];
                segment[lane] = segment[lanes];
            }
        }
        for (; lanes < WarmLanes && assigned + 1 < produced && bound(assigned); ++lanes) {
            cursor[lanes] = bound(assigned);
            segment[lanes] = assigned++;
        }
        for (; recorded < assigned && done[recorded % WarmWindow] && walked < goal; ++recorded) {
            done[recorded % WarmWindow] = false;
            node = record(node, bound(recorded + 1), goal);
        }
    }
    return node;
}
