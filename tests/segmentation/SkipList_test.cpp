#include "segmentation/SkipList.h"

#include "SegmentTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

namespace {

using segtest::Node;

Node at(double start) { return segtest::audio(start, start + 1.0); }

void expectRangeError(const std::function<void()>& action) {
    segtest::expectRaises(action, "NSRangeException", "index out of array bounds");
}

// The starts of the list's objects, "1 2 3", once its structure and its last object are checked.
std::string starts(SkipList& list) {
    EXPECT_TRUE(list.isWellFormed());
    std::string text;
    for (uint32_t i = 0; i < list.count(); ++i)
        text += (i ? " " : "") + std::to_string(int(list.objectAtIndex(i)->startTime()));
    if (list.count() > 0) EXPECT_EQ(list.lastObject(), list.objectAtIndex(list.count() - 1));
    else expectRangeError([&] { list.lastObject(); });
    return text;
}

TEST(SkipList, EmptyListRefusesEveryPositionAndEnumeratesNothing) {
    SkipList list;
    EXPECT_EQ(list.count(), 0u);
    expectRangeError([&] { list.firstObject(); });
    expectRangeError([&] { list.lastObject(); });
    expectRangeError([&] { list.objectAtIndex(0); });
    EXPECT_EQ(list.nextObject(), nullptr);
    list.startEnumeration();
    EXPECT_EQ(list.nextObject(), nullptr);
}

TEST(SkipList, RemovingAnObjectBehindItsTiePartnerChangesNothing) {
    SkipList list;
    Node first = at(2.0);
    Node second = at(2.0);
    list.addObject(second);
    list.addObject(first);  // goes before `second`
    list.removeObject(second);
    EXPECT_EQ(list.count(), 2u);
    list.removeObject(first);
    EXPECT_EQ(list.count(), 1u);
    EXPECT_EQ(list.firstObject(), second);
    list.removeObject(at(7.0));
    EXPECT_EQ(list.count(), 1u);
    EXPECT_EQ(list.indexOfObjectIdenticalTo(second.get()), 0u);
    EXPECT_EQ(list.indexOfObjectIdenticalTo(at(2.0).get()), 2147483647u);
}

TEST(SkipList, CopyingAndDecodingReverseTies) {
    SkipList list;
    Node a = at(1.0), b = at(1.0), c = at(2.0);
    list.addObject(c);
    list.addObject(a);
    list.addObject(b);  // b, a, c
    std::shared_ptr<SkipList> copy = list.copy();
    EXPECT_EQ(copy->objectAtIndex(0), a);
    EXPECT_EQ(copy->objectAtIndex(1), b);
    EXPECT_EQ(copy->objectAtIndex(2), c);
    EXPECT_EQ(a.use_count(), 3);  // test, list, copy
}

TEST(SkipList, SplitBeforeEverythingMovesAllAndAfterEverythingMovesNothing) {
    SkipList list;
    for (double s : {1.0, 2.0, 3.0, 4.0}) list.addObject(at(s));
    EXPECT_EQ(starts(*list.splitSkipListAtObject(*at(10.0))), "");
    EXPECT_EQ(starts(list), "1 2 3 4");
    std::shared_ptr<SkipList> all = list.splitSkipListAtObject(*at(0.5));
    EXPECT_EQ(starts(*all), "1 2 3 4");
    EXPECT_EQ(starts(list), "");
    EXPECT_EQ(list.topLevel(), 0);
}

TEST(SkipList, AppendingEmptyChangesNothingAndAppendingToEmptyTakesAll) {
    SkipList list, empty, target;
    for (double s : {1.0, 2.0, 3.0}) list.addObject(at(s));
    list.appendSkipList(empty);
    EXPECT_EQ(starts(list), "1 2 3");
    int32_t level = list.topLevel();
    target.appendSkipList(list);
    EXPECT_EQ(starts(target), "1 2 3");
    EXPECT_EQ(target.topLevel(), level);
    EXPECT_EQ(starts(list), "");
    // The emptied list is fully usable again.
    list.addObject(at(9.0));
    EXPECT_EQ(starts(list), "9");
}

// The finger is the node returned last, backwards too; adding or removing
// clears it, splitting and appending keep it while its node stays.
TEST(SkipList, TheFingerIsTheNodeReturnedLast) {
    SkipList list;
    std::vector<Node> items;
    for (int i = 0; i < 600; ++i) items.push_back(at(i));
    for (const Node& item : items) list.addObject(item);
    auto finger = [&] { return std::make_pair(list.fingeredObject(), list.fingeredIndex()); };

    list.objectAtIndex(500);
    list.objectAtIndex(20);
    EXPECT_EQ(finger(), std::make_pair(static_cast<const AudioSegmentNode*>(items[20].get()), 20u));
    list.splitSkipListAtObject(*at(300));
    list.appendSkipList(*list.splitSkipListAtObject(*at(100)));
    EXPECT_EQ(finger(), std::make_pair(static_cast<const AudioSegmentNode*>(items[20].get()), 20u));
    EXPECT_EQ(list.objectAtIndex(25), items[25]);  // walked on from the finger
    list.splitSkipListAtObject(*at(10));
    EXPECT_EQ(finger(), std::make_pair(static_cast<const AudioSegmentNode*>(nullptr), 0u));

    list.objectAtIndex(5);
    list.addObject(at(3.5));
    EXPECT_EQ(list.fingeredObject(), nullptr);
    EXPECT_EQ(list.objectAtIndex(4)->startTime(), 3.5);
    list.removeObject(items[9]);
    EXPECT_EQ(list.fingeredObject(), nullptr);
    EXPECT_EQ(starts(list), "0 1 2 3 3 4 5 6 7 8");
}

TEST(SkipList, LevelsStayBelowSixteenAndRiseOneAtATime) {
    srandom(7);
    SkipList list;
    int32_t previous = 0;
    for (int i = 0; i < 20000; ++i) {
        list.addObject(at(i % 97));
        ASSERT_LE(list.topLevel(), 15);
        ASSERT_LE(list.topLevel(), previous + 1);
        previous = list.topLevel();
    }
    EXPECT_GE(list.topLevel(), 4);  // about log4(20000) = 7
    EXPECT_TRUE(list.isWellFormed());
}

TEST(SkipList, DescriptionNumbersEachObject) {
    SkipList list;
    list.addObject(at(1.0));
    EXPECT_EQ(list.description(),
              "SkipList (1 objects):\n0000: nodeType = Audio, numChildren = 0, startTime = 1.00, endTime = 2.00\n");
}

// Segment nodes change their start while lists hold them (fusing silences,
// spans taken from children, unmerging); every list holding such a node must
// place later objects by the new start.
TEST(SkipList, ObjectsWhoseStartChangesInPlaceOrderLaterAddsByTheNewStart) {
    Node quiet = segtest::silence(20, 25);
    Node parent = segtest::collectionOf({at(10), quiet, at(30)});
    std::shared_ptr<SkipList> copy = parent->childNodes().copy();
    parent->addNodeToChildren(segtest::silence(12, 21));  // quiet now starts at 12
    ASSERT_EQ(segtest::layout(*parent), "A10-11 S12-25 A30-31");
    parent->addNodeToChildren(at(15));
    EXPECT_EQ(segtest::layout(*parent), "A10-11 S12-25 A15-16 A30-31");
    EXPECT_TRUE(parent->childNodes().isWellFormed());

    // The copy holds the same node and follows its start as well, also once
    // the node has left the first list.
    parent->childNodes().removeObject(quiet);
    parent->addNodeToChildren(segtest::silence(11, 13));
    copy->addObject(at(13));
    EXPECT_EQ(starts(*copy), "10 12 13 30");
    EXPECT_EQ(copy->indexOfObjectIdenticalTo(quiet.get()), 1u);

    // A merged child takes its left neighbour's start; an unmerged collection
    // takes the start of the node it stands for.
    Node s1 = segtest::silence(40, 50), a = segtest::audio(50, 60), s2 = segtest::silence(60, 70);
    Node root = segtest::collectionOf({at(0), s1, a, s2, at(80)});
    root->mergeChildWithNeighbours(a);
    Node between = at(45);
    root->addNodeToChildren(between);
    EXPECT_EQ(segtest::layout(*root), "A0-1 C40-70 A45-46 A80-81");
    root->childNodes().removeObject(between);
    root->unmergeNode(a->childAtIndex(2), a);
    root->addNodeToChildren(at(55));
    EXPECT_EQ(segtest::layout(*root), "A0-1 C40-60 A55-56 S60-70 A80-81");
    EXPECT_TRUE(root->childNodes().isWellFormed());
}

// Additions to an empty list are placed together when the list is next looked
// at; the result must be the list that placing each at once builds, also with
// keys that do not order (a NaN), zeros of both signs, and an unplaced
// object's start changing before the placement. The draws of node levels are
// the same in both runs, so even the NaN lands in the same place.
TEST(SkipList, AdditionsPlacedTogetherMatchAdditionsPlacedOneByOne) {
    std::mt19937_64 random(7);
    std::vector<Node> nodes;
    const double specials[] = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity()};
    for (int i = 0; i < 3000; ++i)
        nodes.push_back(i % 50 == 0 ? at(specials[i / 50 % 4]) : at(double(random() % 300)));
    Node unordered = at(std::numeric_limits<double>::quiet_NaN());

    // The objects in list order, each by its place in `nodes` (or past it).
    enum Change { None, NaN, Start };
    auto build = [&](Change change, bool oneByOne) {
        Node quiet = segtest::silence(150, 160);
        Node parent = segtest::collectionOf({quiet});
        srandom(5);
        auto list = std::make_shared<SkipList>();
        list->startEnumeration();
        for (const Node& node : nodes) {
            list->addObject(node);
            if (oneByOne) list->firstObject();
            if (change == NaN && node == nodes[1000]) list->addObject(unordered);
            if (change == Start && node == nodes[2000]) list->addObject(quiet);
        }
        if (change == Start) {
            parent->addNodeToChildren(segtest::silence(140, 155));
            EXPECT_EQ(quiet->startTime(), 140);
        }
        std::vector<Node> known = nodes;
        known.insert(known.end(), {quiet, unordered});
        std::vector<long> order;
        while (Node node = list->nextObject()) order.push_back(std::find(known.begin(), known.end(), node) - known.begin());
        EXPECT_EQ(list->count(), order.size());
        EXPECT_EQ(list->lastObject(), known[order.back()]);
        return order;
    };

    std::vector<long> model(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) model[i] = long(nodes.size() - 1 - i);
    std::stable_sort(model.begin(), model.end(), [&](long a, long b) { return nodes[a]->startTime() < nodes[b]->startTime(); });
    EXPECT_TRUE(build(None, false) == model);
    EXPECT_TRUE(build(NaN, false) == build(NaN, true));
    EXPECT_TRUE(build(Start, false) == build(Start, true));

    // Unplaced additions are released with the list.
    auto dropped = std::make_unique<SkipList>();
    for (const Node& node : nodes) dropped->addObject(node);
    dropped->addObject(unordered);
    dropped.reset();
    EXPECT_EQ(unordered.use_count(), 1);
    EXPECT_EQ(nodes[0].use_count(), 1);
    EXPECT_EQ(nodes.back().use_count(), 1);
}

// A plain ordered vector with the list's rules: a new object goes before the
// first one that does not start earlier; removal finds only that first one.
struct Model {
    size_t placeFor(double start) const {
        return std::lower_bound(items.begin(), items.end(), start,
                                [](const Node& n, double s) { return n->startTime() < s; }) - items.begin();
    }
    std::vector<Node> items;
};

// The first of `positions` (visited in that order) at which `list` does not
// hold `items` at the same position; "none" when all agree.
std::string firstMismatch(SkipList& list, const std::vector<Node>& items, const std::vector<size_t>& positions) {
    for (size_t i : positions)
        if (list.objectAtIndex(static_cast<uint32_t>(i)) != items[i]) return "position " + std::to_string(i);
    return "none";
}

std::vector<size_t> rising(size_t from, size_t to) {
    std::vector<size_t> positions;
    for (size_t i = from; i < to; ++i) positions.push_back(i);
    return positions;
}

class Randomized {
public:
    Randomized() : random(20240611) { srandom(99); }

    void add() {
        Node node = at(static_cast<double>(pick(0, 400)));
        model.items.insert(model.items.begin() + model.placeFor(node->startTime()), node);
        list->addObject(node);
    }

    void remove() {
        if (model.items.empty()) return;
        Node node = model.items[pick(0, model.items.size() - 1)];
        size_t place = model.placeFor(node->startTime());
        if (model.items[place] == node) model.items.erase(model.items.begin() + place);
        list->removeObject(node);
    }

    // Adds objects until the list holds `count`; ordering the model once keeps
    // this fast for large lists. An object goes before its ties, so the model
    // takes the new objects newest first, ahead of the older ones.
    void fill(size_t count) {
        std::vector<Node> added;
        while (model.items.size() + added.size() < count) {
            added.push_back(at(static_cast<double>(pick(0, 400))));
            list->addObject(added.back());
        }
        std::vector<Node> items(added.rbegin(), added.rend());
        items.insert(items.end(), model.items.begin(), model.items.end());
        std::stable_sort(items.begin(), items.end(),
                         [](const Node& a, const Node& b) { return a->startTime() < b->startTime(); });
        model.items = std::move(items);
    }

    void removeStranger() { list->removeObject(at(static_cast<double>(pick(0, 400)))); }

    void scanForwards(size_t longest = 40) {
        if (model.items.empty()) return;
        size_t from = pick(0, model.items.size() - 1);
        size_t to = std::min(model.items.size(), from + pick(1, longest));
        ASSERT_EQ(firstMismatch(*list, model.items, rising(from, to)), "none");
    }

    void scanBackwards(size_t longest = 10) {
        if (model.items.empty()) return;
        size_t from = pick(0, model.items.size() - 1);
        size_t steps = std::min(from + 1, pick(1, longest));
        std::vector<size_t> falling = rising(from + 1 - steps, from + 1);
        std::reverse(falling.begin(), falling.end());
        ASSERT_EQ(firstMismatch(*list, model.items, falling), "none");
    }

    void splitAndAppend() {
        Node at_ = at(static_cast<double>(pick(0, 400)));
        size_t place = model.placeFor(at_->startTime());
        std::shared_ptr<SkipList> tail = list->splitSkipListAtObject(*at_);
        std::vector<Node> tailItems(model.items.begin() + place, model.items.end());
        model.items.resize(place);
        ASSERT_TRUE(tail->isWellFormed());
        ASSERT_EQ(tail->count(), tailItems.size());
        ASSERT_EQ(firstMismatch(*tail, tailItems, rising(0, tailItems.size())), "none");
        check();
        switch (pick(0, 7)) {
            case 0:  // the tail is dropped
                return;
            case 1:  // the tail becomes the list, by appending it to a fresh one
                list = std::make_shared<SkipList>();
                list->appendSkipList(*tail);
                model.items = tailItems;
                break;
            default:  // the tail goes back where it was
                list->appendSkipList(*tail);
                model.items.insert(model.items.end(), tailItems.begin(), tailItems.end());
        }
        ASSERT_EQ(tail->count(), 0u);
        ASSERT_TRUE(tail->isWellFormed());
    }

    // Objects added behind the cursor are visited, those before it are not.
    void enumerateWhileAdding() {
        list->startEnumeration();
        Node current;
        size_t steps = pick(0, 30);
        for (size_t k = 0; k <= steps; ++k) {
            Node next = list->nextObject();
            size_t expected = current ? positionOf(current) + 1 : 0;
            if (expected >= model.items.size()) {
                ASSERT_EQ(next, nullptr);
                return;
            }
            ASSERT_EQ(next, model.items[expected]);
            current = next;
            if (pick(0, 1)) add();
        }
    }

    void empty() {
        list->emptyList();
        model.items.clear();
    }

    void check() {
        ASSERT_EQ(list->count(), model.items.size());
        ASSERT_TRUE(list->isWellFormed());
        if (model.items.empty()) {
            ASSERT_THROW(list->lastObject(), platform::NamedException);
            return;
        }
        ASSERT_EQ(list->lastObject(), model.items.back());
        ASSERT_EQ(list->firstObject(), model.items.front());
        if (const AudioSegmentNode* finger = list->fingeredObject()) {
            ASSERT_LT(list->fingeredIndex(), model.items.size());
            ASSERT_EQ(finger, model.items[list->fingeredIndex()].get());
        }
        ASSERT_EQ(firstMismatch(*list, model.items, rising(0, model.items.size())), "none");
        // Leave the finger somewhere at random for the next operation.
        list->objectAtIndex(static_cast<uint32_t>(pick(0, model.items.size() - 1)));
    }

    size_t pick(size_t low, size_t high) { return std::uniform_int_distribution<size_t>(low, high)(random); }

    std::shared_ptr<SkipList> list = std::make_shared<SkipList>();
    Model model;

private:
    size_t positionOf(const Node& node) const {
        return std::find(model.items.begin(), model.items.end(), node) - model.items.begin();
    }
    std::mt19937_64 random;
};

TEST(SkipList, AgreesWithAnOrderedVectorOverManyRandomOperations) {
    Randomized run;
    for (int step = 0; step < 100000; ++step) {
        // Keep the list between a few and a few hundred objects.
        size_t size = run.model.items.size();
        size_t roll = run.pick(0, 99);
        if (roll < 45) {
            size > 300 ? run.remove() : run.add();
        } else if (roll < 70) {
            run.remove();
        } else if (roll < 75) {
            run.removeStranger();
        } else if (roll < 85) {
            run.scanForwards();
        } else if (roll < 90) {
            run.scanBackwards();
        } else if (roll < 93) {
            run.splitAndAppend();
        } else if (roll < 99) {
            run.enumerateWhileAdding();
        } else if (run.pick(0, 9) == 0) {
            run.empty();
        }
        if (testing::Test::HasFatalFailure()) FAIL() << "at step " << step;
        run.check();
        if (testing::Test::HasFatalFailure()) FAIL() << "at step " << step;
    }
}

// Lists too large for the caches walk ahead of a scan, in parallel stretches;
// jumps, rising and falling scans must all agree with the model, after changes
// anywhere.
TEST(SkipList, LargeListsAgreeWithAnOrderedVectorByPosition) {
    Randomized run;
    for (int step = 0; step < 60; ++step) {
        run.fill(17000);
        switch (run.pick(0, 5)) {
            case 0: run.add(); break;
            case 1: run.remove(); break;
            case 2: run.splitAndAppend(); break;
            case 3: run.scanForwards(5000); break;
            case 4: run.scanBackwards(5000); break;
            default: break;  // the check alone: a scan from wherever the last one ended
        }
        if (testing::Test::HasFatalFailure()) FAIL() << "at step " << step;
        run.check();
        if (testing::Test::HasFatalFailure()) FAIL() << "at step " << step;
    }
}

}  // namespace
