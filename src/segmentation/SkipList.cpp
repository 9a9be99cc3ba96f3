#include "segmentation/SkipList.h"

#include "platform/NamedException.h"
#include "segmentation/AudioSegmentNode.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <new>

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

}  // namespace

void SkipListKey::set(double newValue) {
    value = newValue;
    if (firstCopy) *firstCopy = newValue;
    if (otherCopies)
        for (double* copy : *otherCopies) *copy = newValue;
}

void SkipListKey::attach(double* copy) const {
    *copy = value;
    if (!firstCopy) {
        firstCopy = copy;
        return;
    }
    if (!otherCopies) otherCopies = std::make_unique<std::vector<double*>>();
    otherCopies->push_back(copy);
}

void SkipListKey::detach(double* copy) const {
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
    void* memory = ::operator new(sizeof(SkipListNode) + slots * sizeof(SkipListNode*));
    auto* node = new (memory) SkipListNode{0.0, std::move(object)};
    if (node->object) node->object->sortKey().attach(&node->key);
    for (size_t i = 0; i < slots; ++i) node->forward()[i] = nullptr;
    return node;
}

void SkipList::freeNode(SkipListNode* node) {
    if (node->object) node->object->sortKey().detach(&node->key);
    node->~SkipListNode();
    ::operator delete(node);
}

SkipList::SkipList() : header(newNode(nullptr, TopLevel)), randomsLeft(DrawsPerRandom), randomBits(static_cast<int32_t>(random())) {}

SkipList::~SkipList() {
    emptyList();
    freeNode(header);
}

const SkipListObject& SkipList::firstObject() const {
    if (numElements == 0) raiseRangeError();
    return header->forward()[0]->object;
}

const SkipListObject& SkipList::lastObject() const {
    if (numElements == 0) raiseRangeError();
    return lastNode->object;
}

uint32_t SkipList::indexOfObjectIdenticalTo(const AudioSegmentNode* object) const {
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
    SearchPath path;
    search(header, level, object->startTime(), path);

    int32_t nodeLevel = randomLevel();
    if (nodeLevel > level) {
        nodeLevel = ++level;
        path.update[nodeLevel] = header;
    }

    SkipListNode* node = newNode(std::move(object), nodeLevel);
    ++numElements;
    sizePositions();
    for (int i = nodeLevel; i >= 0; --i) {
        node->forward()[i] = path.update[i]->forward()[i];
        path.update[i]->forward()[i] = node;
    }
    clearFinger();
    forgetPositions();
    if (!node->forward()[0]) lastNode = node;
}

void SkipList::removeObject(const SkipListObject& object) {
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
    positions = std::make_unique_for_overwrite<uintptr_t[]>(positionsCapacity);
    forgetPositions();
}

void SkipList::startEnumeration() { enumerationNode = header; }

SkipListObject SkipList::nextObject() {
    if (!enumerationNode) return nullptr;
    enumerationNode = enumerationNode->forward()[0];
    return enumerationNode ? enumerationNode->object : nullptr;
}

std::shared_ptr<SkipList> SkipList::copy() const {
    auto list = std::make_shared<SkipList>();
    for (SkipListNode* node = header->forward()[0]; node; node = node->forward()[0]) list->addObject(node->object);
    return list;
}

std::string SkipList::description() const {
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

const AudioSegmentNode* SkipList::fingeredObject() const {
    return lastFingeredObject ? lastFingeredObject->object.get() : nullptr;
}

bool SkipList::isWellFormed() const {
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
