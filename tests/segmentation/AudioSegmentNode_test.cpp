#include "segmentation/AudioSegmentNode.h"

#include "SegmentTestSupport.h"

namespace {

using namespace segtest;

// A leaf that receives a child becomes a collection headed by a copy of itself;
// a silence fuses into the first overlapping (or touching) silence only.
TEST(AudioSegmentNode, ChildrenTurnALeafIntoACollectionAndSilencesFuse) {
    Node leaf = audio(0, 100);
    leaf->setDoesSplit(true);
    leaf->addNodeToChildren(silence(100, 120));
    EXPECT_EQ(span(*leaf) + " " + layout(*leaf), "C0-120 A0-100 S100-120");
    EXPECT_TRUE(leaf->childAtIndex(0)->doesSplit());
    EXPECT_EQ(leaf->childAtIndex(0)->copy()->numberOfChildren(), 0);

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
    EXPECT_EQ(withGroup->childAtIndex(0), x);
    EXPECT_EQ(left->numberOfChildren(), 0);

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
    EXPECT_EQ(root->childAtIndex(0), a1);
    EXPECT_EQ(root->childAtIndex(1), group);
    EXPECT_EQ(group->numberOfChildren(), 0);
    // A node beyond the collection raises and changes nothing.
    expectRaises([&] { root->unmergeNode(silence(90, 95), root->childAtIndex(2)); }, "NSRangeException");
    EXPECT_EQ(layout(*root->childAtIndex(2)), "A20-30 S30-40 A40-50");
}

}  // namespace
