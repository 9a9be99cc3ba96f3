// The segment tree, its nodes and its slices.
#include "segmentation/AudioSegmentTree.h"

#include "SegmentTestSupport.h"
#include "segmentation/DCDynamicBuffer.h"

#include <algorithm>

namespace {

using namespace segtest;

// A new tree has one expanded slice over the whole recording; processing
// fuses overlapping silences, fills the gaps with audio and splits at every
// silence but a trailing one.
TEST(AudioSegmentTree, ProcessingFillsGapsAndSplitsAtEverySilence) {
    auto tree = AudioSegmentTree::create();
    TreeChanges changes(*tree);
    tree->setDuration(1000);
    EXPECT_EQ(slices(*tree), "0..1000");
    EXPECT_EQ(tree->indexOfSliceForAudioSegment(*audio(9e9, 1e10)), 0);
    for (double start : {100, 500, 550, 900}) tree->addSilenceSegmentFrom(start, start + 100);
    tree->createAudioSegmentsBetweenSilences();
    EXPECT_EQ(layout(*tree), "A0-100 S100-200 A200-500 S500-650 A650-900 S900-1000");
    EXPECT_EQ(tree->shortestSilenceInTree() * 1000 + tree->longestSilenceInTree(), 100150);
    EXPECT_EQ(changes.count, 0);

    tree->splitSilencesToTracks();
    EXPECT_EQ(slices(*tree), "0..100 200..500 650..1000");
    EXPECT_EQ(tree->sliceAtIndex(0)->title(), "My Track");
    EXPECT_EQ(tree->sliceAtIndex(2)->title(), "My Track Copy 1");
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(tree->sliceAtIndex(2)->trackNumber() * 10 + tree->sliceAtIndex(0)->trackCount(), 33);
    for (int32_t slice = 0; slice < 3; ++slice)
        EXPECT_EQ(tree->audioSegmentAtIndex(0, *tree->sliceAtIndex(slice)), tree->audioSegmentAtIndex(2 * slice));
    EXPECT_EQ(tree->numberOfAudioSegmentsInSlice(*tree->sliceAtIndex(2)), 2);
    EXPECT_EQ(layout(*treeWith(0, {}, false)), "A0-0");
}

TEST(AudioSegmentTree, SettingAndClearingSplitPoints) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    Node quiet = tree->addSilenceSegmentFrom(400, 450);
    tree->setSplitPointAtNode(quiet);
    tree->sliceAtIndex(0)->setExpandedInOutlineView(false);
    TreeChanges changes(*tree);
    tree->clearSplitPointAtNode(quiet);
    // The following slice was expanded, so the joined one is.
    EXPECT_EQ(std::make_tuple(slices(*tree), tree->sliceAtIndex(0)->expandedInOutlineView(), quiet->doesSplit(),
                              changes.count),
              std::make_tuple("0..1000", true, false, 1));

    // A split point at the very start can be cleared again.
    auto atStart = treeWith(1000, {{0, 100}, {500, 600}});
    ASSERT_EQ(slices(*atStart), "0..0 100..500 600..1000");
    atStart->clearSplitPointAtNode(atStart->audioSegmentAtIndex(0));
    EXPECT_EQ(slices(*atStart), "0..500 600..1000");

    // Nodes outside every slice are refused and change nothing.
    for (const auto& refused : std::vector<std::function<void()>>{
             [&] { atStart->setSplitPointAtNode(silence(2000, 3000)); },
             [&] { atStart->clearSplitPointAtNode(atStart->audioSegmentAtIndex(4)); },
             [&] { atStart->sliceAtIndex(2); }, [&] { atStart->removeSliceAtIndex(-1); }})
        expectRaises(refused, "NSRangeException");
    EXPECT_EQ(slices(*atStart), "0..500 600..1000");
}

TEST(AudioSegmentTree, CopyTitlesCountUp) {
    for (const auto& [title, copy] : std::vector<std::pair<std::string, std::string>>{
             {"Song", "Song Copy"}, {"Song Copy", "Song Copy 1"}, {"Song Copy 1", "Song Copy 2"},
             {"A Copy B Copy 3", "A Copy 4"}, {"Song Copy  -7x", "Song Copy -6"},
             {"X Copy 99999999999999999999", "X Copy 2147483648"}})
        EXPECT_EQ(AudioSegmentTree::titleForCopyOf(title), copy);
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf(std::nullopt), std::nullopt);
}

// Two tracks of 40 s around a shorter one, separated by one-second silences,
// in frames; auto-define merges audio shorter than the minimum track duration
// (30 s unless set) with its neighbours, and slices keep their silences.
TEST(AudioSegmentTree, AutoDefineMergesAudioShorterThanTheMinimumTrackDurationInFrames) {
    const double rate = AudioSegmentTree::SampleRate;
    const struct {
        double middleSeconds, minimum;
        const char* layout;
    } cases[] = {
        {30, 30, "A0-1764000 S1764000-1808100 A1808100-3131100 S3131100-3175200 A3175200-4939200"},
        {30 - 1 / rate, 30, "A0-1764000 C1764000-3175199 A3175199-4939199"},
        {30, 45, "C0-4939200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const double middleEnd = 41 * rate + c.middleSeconds * rate;
        auto tree = treeWith(middleEnd + 41 * rate, {{40 * rate, 41 * rate}, {middleEnd, middleEnd + rate}});
        tree->setMinimumTrackDuration(c.minimum);
        TreeChanges changes(*tree);
        tree->performAutoDefine();
        EXPECT_EQ(layout(*tree), c.layout);
        EXPECT_EQ(changes.count, tree->numberOfAudioSegments() == 5 ? 0 : 1);
        EXPECT_EQ(tree->numberOfSlices(), 3);
        // Split silences now live inside the collection, which the slices share.
        EXPECT_EQ(tree->audioSegmentAtIndex(0, *tree->sliceAtIndex(1)),
                  tree->audioSegmentAtIndex(tree->numberOfAudioSegments() / 2));
    }
}

TEST(AudioSegmentTree, ChangingTheSilenceBoundsReordersOnlyOnChange) {
    auto tree = treeWith(100, {{10, 12}, {50, 80}}, false);
    TreeChanges changes(*tree);
    // The segments, and "#n" after n notifications.
    const auto state = [&] { return layout(*tree) + " #" + std::to_string(changes.count); };
    tree->setSilenceRangeMin(1.0, 60.0);
    EXPECT_EQ(changes.count, 0);

    // 2-frame silence now too short: merged with its neighbours.
    tree->setMinSilenceDuration(5.0);
    EXPECT_EQ(state(), "C0-50 S50-80 A80-100 #1");

    // Back in range: the collection is split around it again.
    tree->setMinSilenceDuration(1.0);
    EXPECT_EQ(state(), "A0-10 S10-12 A12-50 S50-80 A80-100 #2");

    tree->setMaxSilenceDuration(20.0);
    EXPECT_EQ(state(), "A0-10 S10-12 C12-100 #3");
}

// The histogram of silence lengths counts tenths of a second up to 20 s;
// longer silences must not reach past its counters.
TEST(AudioSegmentTree, DescriptionListsEverySegmentWhateverTheSilenceLengths) {
    auto tree = AudioSegmentTree::create();
    for (double start : {0.0, 30.0, 60.0}) tree->addSilenceSegmentFrom(start, start + 19.95);
    tree->addSilenceSegmentFrom(100, 120);
    tree->addSilenceSegmentFrom(200, 44200);
    EXPECT_EQ(std::ranges::count(tree->description(), '\n'), 6);
}

// A leaf that receives a child becomes a collection headed by a copy of itself;
// a silence fuses into the first overlapping (or touching) silence only.
TEST(AudioSegmentNode, ChildrenTurnALeafIntoACollectionAndSilencesFuse) {
    Node leaf = audio(0, 100);
    leaf->setDoesSplit(true);
    leaf->addNodeToChildren(silence(100, 120));
    EXPECT_EQ(span(*leaf) + " " + layout(*leaf), "C0-120 A0-100 S100-120");
    EXPECT_TRUE(leaf->childAtIndex(0)->doesSplit());

    Node group = collectionOf({silence(15, 30)});
    Node kept = group->childAtIndex(0);
    group->addNodeToChildren(silence(10, 20));
    group->addNodeToChildren(silence(30, 40));
    EXPECT_EQ(layout(*group), "S10-40");
    EXPECT_EQ(group->childAtIndex(0), kept);
    group->addNodeToChildren(audio(12, 18));
    EXPECT_EQ(span(*group) + " " + layout(*group), "C10-18 S10-40 A12-18");  // the last child's end
}

// The merged node becomes the collection; a neighbouring collection is
// dissolved into it, and at the edges only the neighbours that exist are taken.
TEST(AudioSegmentNode, MergingKeepsTheMergedNodesIdentityAndTakesOnlyExistingNeighbours) {
    Node left = collectionOf({audio(0, 10), silence(10, 20), audio(20, 30)});
    Node x = audio(30, 35), withGroup = collectionOf({left, x, silence(36, 50)});
    withGroup->mergeChildWithNeighbours(x);
    EXPECT_EQ(layout(*withGroup) + " " + layout(*x), "C0-50 A0-10 S10-20 A20-30 A30-35 S36-50");
    EXPECT_EQ(std::make_tuple(withGroup->childAtIndex(0), left->numberOfChildren()), std::make_tuple(x, 0));

    Node first = audio(0, 10), last = audio(20, 30), edges = collectionOf({first, silence(10, 20), last});
    edges->mergeChildWithNeighbours(first);
    EXPECT_EQ(layout(*edges), "C0-20 A20-30");
    edges->mergeChildWithNeighbours(last);
    EXPECT_EQ(layout(*edges) + " " + layout(*last), "C0-30 A0-10 S10-20 A20-30");
    Node only = audio(5, 6), lone = collectionOf({only});
    lone->mergeChildWithNeighbours(only);
    EXPECT_EQ(layout(*only), "A5-6");

    // A node that is not a child raises before anything changes.
    Node stranger = audio(50, 60);
    expectRaises([&] { lone->mergeChildWithNeighbours(stranger); }, "NSRangeException");
    EXPECT_EQ(span(*stranger) + " " + layout(*lone), "A50-60 C5-6");
}

// The collection keeps what lies before the silence and stands for it; what
// follows goes into a new collection.
TEST(AudioSegmentNode, UnmergingASilenceSplitsTheCollectionAroundIt) {
    Node a1 = audio(0, 10), s = silence(10, 20);
    Node group = collectionOf({a1, s, audio(20, 30), silence(30, 40), audio(40, 50)}), root = collectionOf({group});
    root->unmergeNode(s, group);
    EXPECT_EQ(layout(*root) + " " + layout(*root->childAtIndex(2)), "A0-10 S10-20 C20-50 A20-30 S30-40 A40-50");
    EXPECT_EQ(std::make_tuple(root->childAtIndex(0), root->childAtIndex(1), group->numberOfChildren()),
              std::make_tuple(a1, group, 0));
    // A node beyond the collection raises and changes nothing.
    expectRaises([&] { root->unmergeNode(silence(90, 95), root->childAtIndex(2)); }, "NSRangeException");
    EXPECT_EQ(layout(*root->childAtIndex(2)), "A20-30 S30-40 A40-50");
}

// A slice runs between its silences, numbers itself by its place in the tree
// unless numbered, and is harmless once its tree is gone.
TEST(AudioSlice, SpansBoundsAndNumbersFollowTheTreeWhileItLives) {
    std::shared_ptr<AudioSlice> copy;
    {
        auto tree = AudioSegmentTree::create();
        tree->setDuration(1000);
        AudioSlice& slice = *tree->sliceAtIndex(0);
        slice.setTrackCount(9);
        EXPECT_EQ(slice.trackNumber(), 1);
        copy = slice.copy();
        EXPECT_EQ(copy->trackNumber(), 0);  // not held by the tree: no place to number it by
        auto between = AudioSlice::audioSliceWithTree(tree, silence(100, 200), silence(500, 600));
        EXPECT_EQ(std::make_pair(between->startTime(), between->duration()), std::make_pair(200.0, 300.0));

        // Only silences bound a slice: other nodes are refused and the previous silence kept.
        Node quiet = silence(1, 2);
        slice.setLeftSilenceSegment(quiet);
        for (const auto& refused : std::vector<std::function<void()>>{
                 [&] { slice.setLeftSilenceSegment(audio(3, 4)); },
                 [&] { slice.setRightSilenceSegment(AudioSegmentNode::collectionSegmentNode()); }})
            expectRaises(refused, "NSInvalidArgumentException");
        EXPECT_EQ(slice.leftSilenceSegment(), quiet);
        EXPECT_EQ(slice.rightSilenceSegment(), nullptr);
    }
    EXPECT_EQ(std::make_tuple(copy->audioSegmentTree() == nullptr, copy->endTime(), copy->trackCount()),
              std::make_tuple(true, 0.0, 9));
}

TEST(DCDynamicBuffer, GrowsShrinksAndKeepsStorageNullWhenEmpty) {
    DCDynamicBuffer buffer(0);
    EXPECT_EQ(buffer.mData, nullptr);
    EXPECT_EQ(buffer.Resize(0), nullptr);
    ASSERT_TRUE(buffer.CopyInto("abcde", 5));
    buffer.RemoveFrom(2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.mData), buffer.mSize), "cde");
    buffer.RemoveFrom(3);
    EXPECT_EQ(std::make_tuple(buffer.mSize, buffer.mData), std::make_tuple(0u, nullptr));

    DCDynamicBuffer sized(16);
    EXPECT_FALSE(sized.CopyInto("x", UINT32_MAX));  // would wrap the size
    EXPECT_EQ(sized.mSize, 16u);
    sized.RemoveFrom(100);  // more than it holds: emptied, never read past the end
    EXPECT_EQ(sized.mSize, 0u);
}

}  // namespace
