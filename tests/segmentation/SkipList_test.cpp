#include "segmentation/SkipList.h"

#include "SegmentTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using segtest::Node;

Node at(double start) { return segtest::audio(start, start + 1.0); }

// Changes at the edges, ties and removals are left to the random run below.
TEST(SkipList, EmptyListsRefusePositionsAndSearchesFindOnlyTheVeryObject) {
    SkipList list;
    for (const auto& refused : std::vector<std::function<void()>>{
             [&] { list.firstObject(); }, [&] { list.lastObject(); }, [&] { list.objectAtIndex(0); }})
        segtest::expectRaises(refused, "NSRangeException");
    EXPECT_EQ(list.nextObject(), nullptr);
    list.startEnumeration();
    EXPECT_EQ(list.nextObject(), nullptr);

    Node tied = at(2.0);
    list.addObject(tied);
    list.addObject(at(2.0));
    EXPECT_EQ(list.indexOfObjectIdenticalTo(at(2.0).get()), SkipList::NotFound);

    // Additions not yet placed are released with the list.
    auto dropped = std::make_unique<SkipList>();
    for (int i = 0; i < 100; ++i) dropped->addObject(tied);
    dropped.reset();
    EXPECT_EQ(tied.use_count(), 2);
}

// Segment nodes change their start while lists hold them (fusing silences,
// spans taken from children, unmerging); every list holding such a node must
// place later objects by the new start.
TEST(SkipList, ObjectsWhoseStartChangesInPlaceOrderLaterAddsByTheNewStart) {
    Node quiet = segtest::silence(20, 25);
    Node parent = segtest::collectionOf({at(10), quiet, at(30)});
    std::shared_ptr<SkipList> copy = parent->childNodes().copy();
    parent->addNodeToChildren(segtest::silence(12, 21));  // quiet now starts at 12
    parent->addNodeToChildren(at(15));
    EXPECT_EQ(segtest::layout(*parent), "A10-11 S12-25 A15-16 A30-31");

    // The copy holds the same node and follows its start as well, also once
    // the node has left the first list.
    parent->childNodes().removeObject(quiet);
    parent->addNodeToChildren(segtest::silence(11, 13));
    copy->addObject(at(13));
    EXPECT_EQ(copy->indexOfObjectIdenticalTo(quiet.get()), 1u);
    EXPECT_EQ(copy->objectAtIndex(2)->startTime(), 13);

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

    // Additions to an empty list wait to be placed together, each as if placed
    // when it was added: one whose start changes meanwhile by the start it had.
    Node moving = segtest::silence(150, 160), holder = segtest::collectionOf({moving});
    SkipList pending;
    for (int i = 0; i < 100; ++i) pending.addObject(at(2.0 * i));
    pending.addObject(moving);
    holder->addNodeToChildren(segtest::silence(101, 155));
    EXPECT_EQ(pending.indexOfObjectIdenticalTo(moving.get()), 75u);
}

// A list driven at random next to a plain ordered vector with the list's
// rules: a new object goes before the first one that does not start earlier;
// removal finds only that first one. Starts are negative and positive, with
// zeros of both signs, which are ties.
struct Randomized {
    Randomized() : random(20240611) { srandom(99); }

    size_t pick(size_t low, size_t high) { return std::uniform_int_distribution<size_t>(low, high)(random); }
    Node fresh() {
        const double start = double(pick(0, 400)) - 200.0;
        return at(start == 0.0 && pick(0, 1) ? -0.0 : start);
    }

    void remove() {
        if (items.empty()) return;
        Node node = items[pick(0, items.size() - 1)];
        size_t place = placeFor(node->startTime());
        if (items[place] == node) items.erase(items.begin() + place);
        list->removeObject(node);
    }

    // Adds objects until the list holds `count`, ordering the model once. An
    // object goes before its ties, so the new ones go newest first.
    void add() { fill(items.size() + 1); }
    void fill(size_t count) {
        std::vector<Node> added;
        while (items.size() + added.size() < count) list->addObject(added.emplace_back(fresh()));
        items.insert(items.begin(), added.rbegin(), added.rend());
        std::stable_sort(items.begin(), items.end(), [](const Node& a, const Node& b) { return a->startTime() < b->startTime(); });
    }

    // A rising or falling run of positions from a random one.
    void scan(size_t longest, bool backwards) {
        if (items.empty()) return;
        size_t from = pick(0, items.size() - 1), steps = pick(1, longest);
        for (size_t k = 0; k < steps && (backwards ? k <= from : from + k < items.size()); ++k)
            expectAt(*list, items, backwards ? from - k : from + k);
    }

    void splitAndAppend() {
        Node bound = fresh();
        size_t place = placeFor(bound->startTime());
        std::shared_ptr<SkipList> tail = list->splitSkipListAtObject(*bound);
        std::vector<Node> tailItems(items.begin() + place, items.end());
        items.resize(place);
        holds(*tail, tailItems);
        check();
        const size_t fate = pick(0, 7);
        if (fate == 0) return;  // the tail is dropped
        if (fate == 1) {        // the tail becomes the list, by appending it to a fresh one
            list = std::make_shared<SkipList>();
            items = tailItems;
        } else {  // the tail goes back where it was
            items.insert(items.end(), tailItems.begin(), tailItems.end());
        }
        list->appendSkipList(*tail);
        ASSERT_EQ(tail->count(), 0u);
    }

    // Objects added behind the cursor are visited, those before it are not.
    void enumerateWhileAdding() {
        list->startEnumeration();
        size_t expected = 0, steps = pick(0, 30);
        for (size_t k = 0; k <= steps; ++k) {
            Node next = list->nextObject();
            if (expected >= items.size()) {
                ASSERT_EQ(next, nullptr);
                return;
            }
            ASSERT_EQ(next, items[expected]);
            if (pick(0, 1)) add();
            expected = std::find(items.begin(), items.end(), next) - items.begin() + 1;
        }
    }

    void check() {
        holds(*list, items);
        if (items.empty()) return;
        ASSERT_EQ(std::make_pair(list->firstObject(), list->lastObject()), std::make_pair(items.front(), items.back()));
        // Leave the finger somewhere at random for the next operation.
        list->objectAtIndex(uint32_t(pick(0, items.size() - 1)));
    }

    std::shared_ptr<SkipList> list = std::make_shared<SkipList>();
    std::vector<Node> items;

    static void holds(SkipList& list, const std::vector<Node>& items) {
        ASSERT_EQ(list.count(), items.size());
        ASSERT_TRUE(list.isWellFormed());
        for (size_t i = 0; i < items.size(); ++i) expectAt(list, items, i);
    }
    static void expectAt(SkipList& list, const std::vector<Node>& items, size_t i) {
        ASSERT_EQ(list.objectAtIndex(uint32_t(i)), items[i]) << "position " << i;
    }
    size_t placeFor(double start) const {
        return std::lower_bound(items.begin(), items.end(), start,
                                [](const Node& n, double s) { return n->startTime() < s; }) - items.begin();
    }
    std::mt19937_64 random;
};

// Small lists first, then lists too large for the caches, which walk ahead
// of a scan in parallel stretches: jumps, rising and falling scans must all
// agree with the model, after changes anywhere.
TEST(SkipList, AgreesWithAnOrderedVectorOverManyRandomOperations) {
    Randomized run;
    for (int step = 0; step < 100060; ++step) {
        const bool large = step >= 100000;
        if (large) run.fill(17000);
        size_t roll = run.pick(0, 99);
        if (roll < 45) run.items.size() > 300 ? run.remove() : run.add();
        else if (roll < 70) run.remove();
        else if (roll < 75) run.list->removeObject(run.fresh());  // never in the list
        else if (roll < 85) run.scan(large ? 5000 : 40, false);
        else if (roll < 90) run.scan(large ? 5000 : 10, true);
        else if (roll < 93) run.splitAndAppend();
        else if (roll < 99) run.enumerateWhileAdding();
        else if (run.pick(0, 9) == 0) {  // emptied, and refilled by additions placed together
            run.list->emptyList();
            run.items.clear();
            run.fill(run.pick(0, 500));
        }
        if (!testing::Test::HasFatalFailure()) run.check();
        if (testing::Test::HasFatalFailure()) FAIL() << "at step " << step;
    }
}

}  // namespace
