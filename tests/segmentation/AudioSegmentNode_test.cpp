#include "segmentation/AudioSegmentNode.h"

#include "platform/NamedException.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Node = std::shared_ptr<AudioSegmentNode>;

Node silence(double s, double e) { return AudioSegmentNode::silenceSegmentNodeFrom(s, e); }
Node audio(double s, double e) { return AudioSegmentNode::audioSegmentNodeFrom(s, e); }

Node collectionOf(std::initializer_list<Node> children) {
    Node group = AudioSegmentNode::collectionSegmentNode();
    for (const Node& child : children) group->addNodeToChildren(child);
    return group;
}

// "S10-20" style summary of a node's children, for compact expectations.
std::string layout(AudioSegmentNode& node) {
    std::string text;
    for (int32_t i = 0; i < node.numberOfChildren(); ++i) {
        AudioSegmentNode& child = *node.childAtIndex(i);
        if (!text.empty()) text += " ";
        text += std::string(1, "SAC"[child.nodeType()]) + std::to_string(int(child.startTime())) + "-" +
                std::to_string(int(child.endTime()));
    }
    return text;
}

TEST(AudioSegmentNode, CompareNeverAnswersZeroAndTouchingSpansOverlap) {
    EXPECT_EQ(audio(1, 2)->compare(*audio(1, 5)), 1);
    EXPECT_EQ(audio(1, 5)->compare(*audio(1, 2)), 1);
    EXPECT_EQ(audio(1, 2)->compare(*audio(3, 4)), -1);
    EXPECT_EQ(audio(3, 4)->compare(*audio(1, 2)), 1);

    EXPECT_TRUE(silence(10, 20)->overlapsWith(*silence(20, 30)));
    EXPECT_TRUE(silence(20, 30)->overlapsWith(*silence(10, 20)));
    EXPECT_FALSE(silence(10, 19)->overlapsWith(*silence(20, 30)));
    // Equal starts: the receiver is taken as the first.
    EXPECT_TRUE(silence(5, 5)->overlapsWith(*silence(5, 9)));
}

TEST(AudioSegmentNode, SilencesFuseIntoTheFirstOverlappingSilenceOnly) {
    Node group = collectionOf({silence(15, 30)});
    Node kept = group->childAtIndex(0);
    group->addNodeToChildren(silence(10, 20));
    EXPECT_EQ(layout(*group), "S10-30");
    EXPECT_EQ(group->childAtIndex(0), kept);
    group->addNodeToChildren(silence(30, 40));
    EXPECT_EQ(layout(*group), "S10-40");
    group->addNodeToChildren(audio(12, 18));
    EXPECT_EQ(layout(*group), "S10-40 A12-18");
    EXPECT_EQ(group->startTime(), 10);
    EXPECT_EQ(group->endTime(), 18);  // the last child's end, not the latest end
}

TEST(AudioSegmentNode, ALeafReceivingAChildBecomesACollectionHeadedByItsCopy) {
    Node leaf = audio(0, 100);
    leaf->setDoesSplit(true);
    leaf->addNodeToChildren(silence(100, 120));
    EXPECT_EQ(leaf->nodeType(), AudioSegmentNode::Collection);
    EXPECT_EQ(layout(*leaf), "A0-100 S100-120");
    EXPECT_TRUE(leaf->childAtIndex(0)->doesSplit());

    Node quiet = silence(10, 20);
    quiet->addNodeToChildren(silence(15, 25));
    EXPECT_EQ(layout(*quiet), "S10-25");
    EXPECT_EQ(quiet->startTime(), 10);
    EXPECT_EQ(quiet->endTime(), 25);
}

TEST(AudioSegmentNode, MergingAudioBetweenTwoSilencesKeepsItsIdentityInPlace) {
    Node root = AudioSegmentNode::collectionSegmentNode();
    Node s1 = silence(10, 20), a = audio(20, 30), s2 = silence(30, 40);
    for (const Node& n : {s1, a, s2}) root->addNodeToChildren(n);
    root->mergeChildWithNeighbours(a);
    ASSERT_EQ(root->numberOfChildren(), 1);
    EXPECT_EQ(root->childAtIndex(0), a);
    EXPECT_EQ(a->nodeType(), AudioSegmentNode::Collection);
    EXPECT_EQ(layout(*a), "S10-20 A20-30 S30-40");
    EXPECT_EQ(a->childAtIndex(0), s1);
    EXPECT_EQ(a->childAtIndex(2), s2);
    EXPECT_EQ(a->startTime(), 10);
    EXPECT_EQ(a->endTime(), 40);
}

TEST(AudioSegmentNode, MergingDissolvesANeighbouringCollection) {
    Node root = AudioSegmentNode::collectionSegmentNode();
    Node left = collectionOf({audio(0, 10), silence(10, 20), audio(20, 30)});
    Node x = audio(30, 35), right = silence(36, 50);
    for (const Node& n : {left, x, right}) root->addNodeToChildren(n);
    root->mergeChildWithNeighbours(x);
    ASSERT_EQ(root->numberOfChildren(), 1);
    EXPECT_EQ(root->childAtIndex(0), x);
    EXPECT_EQ(layout(*x), "A0-10 S10-20 A20-30 A30-35 S36-50");
    EXPECT_EQ(root->indexOfChild(left.get()), AudioSegmentNode::NotFound);
    EXPECT_EQ(left->numberOfChildren(), 0);
}

TEST(AudioSegmentNode, MergingAtTheEdgesTakesOnlyTheNeighboursThatExist) {
    Node root = AudioSegmentNode::collectionSegmentNode();
    Node a = audio(0, 10), s = silence(10, 20), b = audio(20, 30);
    for (const Node& n : {a, s, b}) root->addNodeToChildren(n);
    root->mergeChildWithNeighbours(a);
    EXPECT_EQ(layout(*root), "C0-20 A20-30");
    root->mergeChildWithNeighbours(b);
    EXPECT_EQ(layout(*root), "C0-30");
    EXPECT_EQ(layout(*b), "A0-10 S10-20 A20-30");

    Node lone = AudioSegmentNode::collectionSegmentNode();
    Node only = audio(5, 6);
    lone->addNodeToChildren(only);
    lone->mergeChildWithNeighbours(only);
    EXPECT_EQ(layout(*only), "A5-6");
}

TEST(AudioSegmentNode, MergingANodeThatIsNotAChildRaisesBeforeChangingAnything) {
    Node root = collectionOf({audio(0, 10)});
    Node stranger = audio(50, 60);
    EXPECT_THROW(root->mergeChildWithNeighbours(stranger), platform::NamedException);
    EXPECT_EQ(stranger->nodeType(), AudioSegmentNode::Audio);
    EXPECT_EQ(root->numberOfChildren(), 1);
}

TEST(AudioSegmentNode, UnmergingASilenceSplitsTheCollectionAroundIt) {
    Node root = AudioSegmentNode::collectionSegmentNode();
    Node a1 = audio(0, 10), s = silence(10, 20), a2 = audio(20, 30), s3 = silence(30, 40), a4 = audio(40, 50);
    Node group = collectionOf({a1, s, a2, s3, a4});
    root->addNodeToChildren(group);
    root->unmergeNode(s, group);
    EXPECT_EQ(layout(*root), "A0-10 S10-20 C20-50");
    EXPECT_EQ(root->childAtIndex(0), a1);
    EXPECT_EQ(root->childAtIndex(1), group);
    EXPECT_EQ(group->numberOfChildren(), 0);
    EXPECT_EQ(layout(*root->childAtIndex(2)), "A20-30 S30-40 A40-50");
}

TEST(AudioSegmentNode, UnmergingANodeBeyondTheCollectionRaises) {
    Node root = AudioSegmentNode::collectionSegmentNode();
    Node group = collectionOf({audio(0, 10), silence(10, 20)});
    root->addNodeToChildren(group);
    EXPECT_THROW(root->unmergeNode(silence(90, 95), group), platform::NamedException);
    EXPECT_EQ(layout(*group), "A0-10 S10-20");
}

TEST(AudioSegmentNode, CopyIsAFreshLeafAndDescriptionNamesTheType) {
    Node group = collectionOf({audio(1, 2), audio(3, 4)});
    Node copy = group->copy();
    EXPECT_EQ(copy->numberOfChildren(), 0);
    EXPECT_EQ(group->numberOfChildren(), 2);
    EXPECT_EQ(group->description(), "nodeType = Collection, numChildren = 2, startTime = 1.00, endTime = 4.00");
    EXPECT_EQ(AudioSegmentNode(0, 1, 7).description(), "nodeType = , numChildren = 0, startTime = 0.00, endTime = 1.00");
}

}  // namespace
