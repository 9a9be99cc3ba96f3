#include "segmentation/SkipList.h"

#include "platform/NamedException.h"
#include "segmentation/AudioSegmentNode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

namespace {

constexpr int TopLevel = SkipList::MaxLevels - 1;
constexpr int32_t DrawsPerRandom = 15;

// A stored object answers -1 to compare() exactly when the argument starts
// later; the node's copy of the start is exact, so the object is not visited.
bool ordersBefore(const SkipListNode* node, double key) { return node->key < key; }

// The search path: for each level, the last node whose object orders before the key.
struct SearchPath {
    SkipListNode* update[SkipList::MaxLevels];
};

void search(SkipListNode* header, int32_t level, double key, SearchPath& path) {
    SkipListNode* node = header;
    for (int i = level; i >= 0; --i) {
        SkipListNode* next;
        while ((next = node->forward()[i]) && ordersBefore(next, key)) node = next;
        path.update[i] = node;
    }
}

// Nodes are aligned so that an unplaced node's level fits below its address.
constexpr std::align_val_t NodeAlignment{16};
constexpr uintptr_t LevelBits = 15;
static_assert(SkipList::MaxLevels - 1 <= LevelBits);

SkipListNode* nodeOf(uintptr_t entry) { return reinterpret_cast<SkipListNode*>(entry & ~LevelBits); }
int32_t levelOf(uintptr_t entry) { return static_cast<int32_t>(entry & LevelBits); }

// Fewer additions than this are placed one by one: the list is small enough to
// stay in the caches.
constexpr uint32_t SortMinimum = 64;

// An addition to sort: the key as an unsigned integer in the keys' order (zero
// of either sign alike, as the comparison has it), and the entry of its node.
struct SortItem {
    uint64_t order;
    uintptr_t entry;
};

uint64_t orderOf(double key) {
    auto bits = std::bit_cast<uint64_t>(key == 0.0 ? 0.0 : key);
    return bits >> 63 ? ~bits : bits | (uint64_t{1} << 63);
}

// A stable least-significant-digit radix sort by `order`, a byte at a time,
// skipping the bytes all items share. Returns whichever array ends up sorted.
SortItem* radixSort(SortItem* items, SortItem* scratch, uint32_t count) {
    uint32_t counts[8][256] = {};
    for (uint32_t i = 0; i < count; ++i)
        for (int digit = 0; digit < 8; ++digit) ++counts[digit][(items[i].order >> (8 * digit)) & 255];
    for (int digit = 0; digit < 8; ++digit) {
        uint32_t* bucket = counts[digit];
        if (bucket[(items[0].order >> (8 * digit)) & 255] == count) continue;
        uint32_t sum = 0;
        for (int b = 0; b < 256; ++b) sum += std::exchange(bucket[b], sum);
        for (uint32_t i = 0; i < count; ++i) scratch[bucket[(items[i].order >> (8 * digit)) & 255]++] = items[i];
        std::swap(items, scratch);
    }
    return items;
}

// Links the nodes of an empty list, given in their order, level by level;
// returns the last.
SkipListNode* linkInOrder(SkipListNode* header, int32_t level, const SortItem* sorted, uint32_t count) {
    SkipListNode* last[SkipList::MaxLevels];
    std::fill(last, last + SkipList::MaxLevels, header);
    for (uint32_t i = 0; i < count; ++i) {
        SkipListNode* node = nodeOf(sorted[i].entry);
        for (int l = levelOf(sorted[i].entry); l >= 0; --l) last[l] = last[l]->forward()[l] = node;
    }
    for (int l = 0; l <= level; ++l) last[l]->forward()[l] = nullptr;
    return last[0];
}

}  // namespace

template <typename Visit>
void SkipListKey::forEachCopy(Visit visit) const {
    if (firstCopy) visit(firstCopy);
    if (otherCopies)
        for (SkipListNode* copy : *otherCopies) visit(copy);
}

void SkipListKey::set(double newValue) {
    forEachCopy([](SkipListNode* copy) {
        if (const SkipList* list = copy->unplacedIn()) list->placeAdditions();
    });
    value = newValue;
    forEachCopy([newValue](SkipListNode* copy) { copy->key = newValue; });
}

void SkipListKey::attach(SkipListNode* copy) const {
    copy->key = value;
    if (!firstCopy) {
        firstCopy = copy;
        return;
    }
    if (!otherCopies) otherCopies = std::make_unique<std::vector<SkipListNode*>>();
    otherCopies->push_back(copy);
}

void SkipListKey::detach(SkipListNode* copy) const {
    if (firstCopy != copy) {
        otherCopies->erase(std::find(otherCopies->begin(), otherCopies->end(), copy));
    } else if (!otherCopies || otherCopies->empty()) {
        firstCopy = nullptr;
    } else {
        firstCopy = otherCopies->back();
        otherCopies->pop_back();
    }
}

void SkipList::raiseRangeError() {
    throw platform::NamedException("NSRangeException", "index out of array bounds");
}

SkipListNode* SkipList::newNode(SkipListObject object, int32_t nodeLevel) {
    size_t slots = static_cast<size_t>(nodeLevel) + 1;
    void* memory = ::operator new(sizeof(SkipListNode) + slots * sizeof(SkipListNode*), NodeAlignment);
    auto* node = new (memory) SkipListNode{0.0, std::move(object)};
    if (node->object) node->object->sortKey().attach(node);
    for (size_t i = 0; i < slots; ++i) node->forward()[i] = nullptr;
    return node;
}

void SkipList::freeNode(SkipListNode* node) {
    if (node->object) node->object->sortKey().detach(node);
    node->~SkipListNode();
    ::operator delete(node, NodeAlignment);
}

SkipList::SkipList() : header(newNode(nullptr, TopLevel)), randomsLeft(DrawsPerRandom), randomBits(static_cast<int32_t>(random())) {}

SkipList::~SkipList() {
    emptyList();
    freeNode(header);
}

const SkipListObject& SkipList::firstObject() const {
    if (numElements == 0) raiseRangeError();
    placeAdditions();
    return header->forward()[0]->object;
}

const SkipListObject& SkipList::lastObject() const {
    if (numElements == 0) raiseRangeError();
    placeAdditions();
    return lastNode->object;
}

uint32_t SkipList::indexOfObjectIdenticalTo(const AudioSegmentNode* object) const {
    placeAdditions();
    uint32_t position = 0;
    for (SkipListNode* node = header->forward()[0]; node; node = node->forward()[0], ++position)
        if (node->object.get() == object) return position;
    return NotFound;
}

int32_t SkipList::randomLevel() {
    int32_t newLevel = 0;
    while (true) {
        int32_t draw = randomBits & 3;
        randomBits >>= 2;
        if (--randomsLeft == 0) {
            randomBits = static_cast<int32_t>(random());
            randomsLeft = DrawsPerRandom;
        }
        if (draw != 0) break;
        ++newLevel;
    }
    return newLevel > TopLevel ? TopLevel : newLevel;
}

void SkipList::addObject(SkipListObject object) {
    if (!object) return;
    int32_t nodeLevel = randomLevel();
    if (nodeLevel > level) nodeLevel = ++level;
    SkipListNode* node = newNode(std::move(object), nodeLevel);
    ++numElements;
    sizePositions();
    clearFinger();
    forgetPositions();
    if (unplaced == 0 && header->forward()[0]) {
        insert(node, nodeLevel);
        return;
    }
    node->markUnplacedIn(this);
    positions[unplaced++] = reinterpret_cast<uintptr_t>(node) | static_cast<uintptr_t>(nodeLevel);
}

// Links `node` in where a search from the header finds its place.
void SkipList::insert(SkipListNode* node, int32_t nodeLevel) const {
    SearchPath path;
    search(header, level, node->key, path);
    for (int i = nodeLevel; i >= 0; --i) {
        node->forward()[i] = path.update[i]->forward()[i];
        path.update[i]->forward()[i] = node;
    }
    if (!node->forward()[0]) lastNode = node;
}

// Adding one by one puts each object after those that order before it and
// before those it ties with: the order of a stable sort of the additions,
// taken latest first, by key. A key that is not a number orders nothing, so a
// list holding one is built by searches, as adding one by one would have.
void SkipList::placeAdditions() const noexcept {
    if (unplaced == 0) return;
    uint32_t count = std::exchange(unplaced, 0);
    const uintptr_t* entries = positions.get();
    bool sortable = count >= SortMinimum;
    for (uint32_t i = 0; sortable && i < count; ++i) sortable = !std::isnan(nodeOf(entries[i])->key);
    // Without memory to sort in, the searches still place every addition.
    std::unique_ptr<SortItem[]> items(sortable ? new (std::nothrow) SortItem[2 * size_t{count}] : nullptr);
    if (!items) {
        for (uint32_t i = 0; i < count; ++i) insert(nodeOf(entries[i]), levelOf(entries[i]));
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uintptr_t entry = entries[count - 1 - i];
        items[i] = {orderOf(nodeOf(entry)->key), entry};
    }
    lastNode = linkInOrder(header, level, radixSort(items.get(), items.get() + count, count), count);
}

void SkipList::removeObject(const SkipListObject& object) {
    placeAdditions();
    clearFinger();
    forgetPositions();
    if (!object) return;
    SearchPath path;
    search(header, level, object->startTime(), path);
    SkipListNode* candidate = path.update[0]->forward()[0];
    if (!candidate || candidate->object != object) return;

    if (!candidate->forward()[0]) lastNode = path.update[0] == header ? nullptr : path.update[0];
    for (int i = 0; i <= level && path.update[i]->forward()[i] == candidate; ++i)
        path.update[i]->forward()[i] = candidate->forward()[i];
    freeNode(candidate);
    --numElements;
    while (level > 0 && !header->forward()[level]) --level;
}

void SkipList::appendSkipList(SkipList& other) {
    if (&other == this || other.numElements == 0) return;
    placeAdditions();
    other.placeAdditions();

    numElements += other.numElements;
    sizePositions();
    lastNode = other.lastNode;
    if (level < other.level) {
        for (int i = level + 1; i <= other.level; ++i) header->forward()[i] = nullptr;
        level = other.level;
    }
    SkipListNode* node = header;
    for (int i = level; i >= 0; --i) {
        while (node->forward()[i]) node = node->forward()[i];
        if (i <= other.level) node->forward()[i] = other.header->forward()[i];
    }
    forgetPositions();
    other.resetToEmpty();
}

std::shared_ptr<SkipList> SkipList::splitSkipListAtObject(const AudioSegmentNode& object) {
    placeAdditions();
    auto tail = std::make_shared<SkipList>();
    tail->level = level;

    SkipListNode* node = header;
    double key = object.startTime();
    for (int i = level; i >= 0; --i) {
        SkipListNode* next;
        while ((next = node->forward()[i]) && ordersBefore(next, key)) node = next;
        tail->header->forward()[i] = node->forward()[i];
        node->forward()[i] = nullptr;
    }

    uint32_t kept = 0;
    for (SkipListNode* n = header->forward()[0]; n; n = n->forward()[0]) ++kept;
    tail->numElements = numElements - kept;
    tail->sizePositions();
    numElements = kept;
    // A finger on a node that left with the tail would later walk the tail's
    // nodes (freed, perhaps) once appends make its index valid again.
    if (lastFingeredIndex >= kept) clearFinger();
    forgetPositions();
    tail->lastNode = tail->numElements > 0 ? lastNode : nullptr;
    lastNode = kept > 0 ? node : nullptr;

    while (level > 0 && !header->forward()[level]) --level;
    while (tail->level > 0 && !tail->header->forward()[tail->level]) --tail->level;
    return tail;
}

void SkipList::emptyList() {
    for (uint32_t i = 0; i < unplaced; ++i) freeNode(nodeOf(positions[i]));
    unplaced = 0;
    SkipListNode* node = header->forward()[0];
    while (node) {
        SkipListNode* next = node->forward()[0];
        freeNode(node);
        node = next;
    }
    resetToEmpty();
}

void SkipList::resetToEmpty() {
    for (int i = 0; i <= TopLevel; ++i) header->forward()[i] = nullptr;
    numElements = 0;
    level = 0;
    lastNode = nullptr;
    enumerationNode = nullptr;
    clearFinger();
    forgetPositions();
    positions.reset();
    positionsCapacity = 0;
}

void SkipList::clearFinger() {
    lastFingeredObject = nullptr;
    lastFingeredIndex = 0;
}

void SkipList::forgetPositions() {
    walked = 0;
    scanRun = 0;
}

void SkipList::sizePositions() {
    if (positionsCapacity >= numElements) return;
    positionsCapacity = std::max(numElements, 2 * positionsCapacity);
    auto grown = std::make_unique_for_overwrite<uintptr_t[]>(positionsCapacity);
    std::copy_n(positions.get(), unplaced, grown.get());
    positions = std::move(grown);
    forgetPositions();
}

void SkipList::startEnumeration() { enumerationNode = header; }

SkipListObject SkipList::nextObject() {
    if (!enumerationNode) return nullptr;
    placeAdditions();
    enumerationNode = enumerationNode->forward()[0];
    return enumerationNode ? enumerationNode->object : nullptr;
}

std::shared_ptr<SkipList> SkipList::copy() const {
    placeAdditions();
    auto list = std::make_shared<SkipList>();
    for (SkipListNode* node = header->forward()[0]; node; node = node->forward()[0]) list->addObject(node->object);
    return list;
}

std::string SkipList::description() const {
    placeAdditions();
    char line[64];
    snprintf(line, sizeof line, "SkipList (%u objects):\n", numElements);
    std::string text = line;
    uint32_t position = 0;
    for (SkipListNode* node = header->forward()[0]; node; node = node->forward()[0], ++position) {
        snprintf(line, sizeof line, "%.4u: ", position);
        text += line;
        text += node->object->description();
        text += "\n";
    }
    return text;
}

void SkipList::encodeWithCoder(platform::Coder& coder) const {
    platform::KeyedArchiver& archiver = platform::requireKeyedArchiver(coder);
    placeAdditions();
    archiver.encodeInt32("objectCount", static_cast<int32_t>(numElements));
    uint32_t position = 0;
    for (SkipListNode* node = header->forward()[0]; node; node = node->forward()[0], ++position)
        archiver.encodeObject("obj" + std::to_string(position), node->object.get());
}

std::shared_ptr<SkipList> SkipList::initWithCoder(platform::Coder& coder) {
    platform::KeyedUnarchiver& unarchiver = platform::requireKeyedUnarchiver(coder);
    auto list = std::make_shared<SkipList>();
    int32_t count = unarchiver.decodeInt32("objectCount");
    if (count < 0) unarchiver.fail("a skip list has a negative \"objectCount\"");
    for (int32_t i = 0; i < count; ++i)
        list->addObject(unarchiver.decodeObjectOfClass<AudioSegmentNode>("obj" + std::to_string(i)));
    return list;
}

bool SkipList::isWellFormed() const {
    placeAdditions();
    for (int i = level + 1; i <= TopLevel; ++i)
        if (header->forward()[i]) return false;
    if (level > 0 && !header->forward()[level]) return false;

    uint32_t counted = 0;
    SkipListNode* last = nullptr;
    for (SkipListNode* node = header->forward()[0]; node; node = node->forward()[0]) {
        if (std::bit_cast<uint64_t>(node->key) != std::bit_cast<uint64_t>(node->object->startTime())) return false;
        if (last && node->object->compare(*last->object) == -1) return false;
        last = node;
        ++counted;
    }
    if (counted != numElements || lastNode != last) return false;

    // Each higher chain must visit a subsequence of the chain below it.
    for (int i = 1; i <= level; ++i) {
        SkipListNode* below = header->forward()[i - 1];
        for (SkipListNode* node = header->forward()[i]; node; node = node->forward()[i]) {
            while (below && below != node) below = below->forward()[i - 1];
            if (!below) return false;
        }
    }
    return true;
}
