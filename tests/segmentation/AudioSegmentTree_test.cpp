#include "segmentation/AudioSegmentTree.h"

#include "platform/Log.h"
#include "platform/NamedException.h"
#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

using Node = std::shared_ptr<AudioSegmentNode>;

// Counts the tree's change notifications while it lives.
class ChangeCounter {
public:
    explicit ChangeCounter(const AudioSegmentTree& tree)
        : mToken(platform::NotificationCenter::defaultCenter().addObserver(
              AudioSegmentTreeDidChangeNotification, &tree, [this](const std::string&, const void*) { ++count; })) {}
    ~ChangeCounter() { platform::NotificationCenter::defaultCenter().removeObserver(mToken); }
    int count = 0;

private:
    int mToken;
};

std::string layout(const AudioSegmentTree& tree) {
    std::string text;
    for (int32_t i = 0; i < tree.numberOfAudioSegments(); ++i) {
        const AudioSegmentNode& node = *tree.audioSegmentAtIndex(i);
        if (!text.empty()) text += " ";
        text += std::string(1, "SAC"[node.nodeType()]) + std::to_string(int64_t(node.startTime())) + "-" +
                std::to_string(int64_t(node.endTime()));
    }
    return text;
}

std::string slices(const AudioSegmentTree& tree) {
    std::string text;
    for (int32_t i = 0; i < tree.numberOfSlices(); ++i) {
        const AudioSlice& slice = *tree.sliceAtIndex(i);
        if (!text.empty()) text += " ";
        text += std::to_string(int64_t(slice.startTime())) + ".." + std::to_string(int64_t(slice.endTime()));
    }
    return text;
}

// duration 1000, silences 100-200 and 500-600, processed into three slices.
std::shared_ptr<AudioSegmentTree> threeSliceTree() {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    tree->addSilenceSegmentFrom(100, 200);
    tree->addSilenceSegmentFrom(500, 600);
    tree->createAudioSegmentsBetweenSilences();
    tree->splitSilencesToTracks();
    return tree;
}

TEST(AudioSegmentTree, NewTreeHasOneExpandedSliceCoveringTheRecording) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(4410);
    ASSERT_EQ(tree->numberOfSlices(), 1);
    const AudioSlice& slice = *tree->sliceAtIndex(0);
    EXPECT_EQ(slice.title(), "My Track");
    EXPECT_TRUE(slice.expandedInOutlineView());
    EXPECT_EQ(slice.startTime(), 0.0);
    EXPECT_EQ(slice.endTime(), 4410.0);
    EXPECT_EQ(tree->indexOfSliceForAudioSegment(*AudioSegmentNode::audioSegmentNodeFrom(9e9, 1e10)), 0);
    EXPECT_EQ(tree->minSilenceDuration(), 1.0);
    EXPECT_EQ(tree->maxSilenceDuration(), 60.0);
    EXPECT_EQ(tree.use_count(), 1);  // its slice does not keep it alive
}

TEST(AudioSegmentTree, OverlappingSilencesFuse) {
    auto tree = AudioSegmentTree::create();
    tree->addSilenceSegmentFrom(100, 200);
    Node second = tree->addSilenceSegmentFrom(150, 300);
    EXPECT_EQ(layout(*tree), "S100-300");
    EXPECT_EQ(tree->rootNode()->indexOfChild(second.get()), AudioSegmentNode::NotFound);
}

TEST(AudioSegmentTree, ProcessingFillsGapsAndSplitsAtEverySilence) {
    auto tree = AudioSegmentTree::create();
    ChangeCounter changes(*tree);
    tree->setDuration(1000);
    tree->addSilenceSegmentFrom(100, 200);
    tree->addSilenceSegmentFrom(500, 600);
    tree->createAudioSegmentsBetweenSilences();
    EXPECT_EQ(layout(*tree), "A0-100 S100-200 A200-500 S500-600 A600-1000");
    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(tree->shortestSilenceInTree(), 100.0);
    EXPECT_EQ(tree->longestSilenceInTree(), 100.0);

    tree->splitSilencesToTracks();
    EXPECT_EQ(slices(*tree), "0..100 200..500 600..1000");
    EXPECT_EQ(tree->sliceAtIndex(1)->title(), "My Track Copy");
    EXPECT_EQ(tree->sliceAtIndex(2)->title(), "My Track Copy 1");
    EXPECT_EQ(changes.count, 2);
    EXPECT_TRUE(tree->audioSegmentAtIndex(1)->doesSplit());
    EXPECT_EQ(tree->sliceAtIndex(2)->trackNumber(), 3);
    EXPECT_EQ(tree->sliceAtIndex(0)->trackCount(), 3);
    EXPECT_EQ(tree->numberOfAudioSegmentsInSlice(*tree->sliceAtIndex(1)), 1);
    EXPECT_EQ(tree->audioSegmentAtIndex(0, *tree->sliceAtIndex(1)), tree->audioSegmentAtIndex(2));
    EXPECT_EQ(tree->numberOfAudioSegmentsInSlice(*tree->sliceAtIndex(0)), 1);
    EXPECT_EQ(tree->audioSegmentAtIndex(0, *tree->sliceAtIndex(2)), tree->audioSegmentAtIndex(4));
}

TEST(AudioSegmentTree, TrailingSilenceIsNoSplitPointAndEmptyTreesGetOneSegment) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    tree->addSilenceSegmentFrom(900, 1000);
    tree->createAudioSegmentsBetweenSilences();
    tree->splitSilencesToTracks();
    EXPECT_EQ(layout(*tree), "A0-900 S900-1000");
    EXPECT_EQ(tree->numberOfSlices(), 1);

    auto silent = AudioSegmentTree::create();
    silent->setDuration(500);
    silent->createAudioSegmentsBetweenSilences();
    EXPECT_EQ(layout(*silent), "A0-500");

    auto empty = AudioSegmentTree::create();
    empty->createAudioSegmentsBetweenSilences();
    EXPECT_EQ(layout(*empty), "A0-0");
    EXPECT_EQ(empty->shortestSilenceInTree(), 100000000.0);
    EXPECT_EQ(empty->longestSilenceInTree(), 0.0);
}

TEST(AudioSegmentTree, ClearingASplitPointRestoresTheSlices) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    Node quiet = tree->addSilenceSegmentFrom(400, 450);
    tree->setSplitPointAtNode(quiet);
    EXPECT_EQ(tree->numberOfSlices(), 2);
    tree->sliceAtIndex(1)->setExpandedInOutlineView(false);
    tree->sliceAtIndex(0)->setExpandedInOutlineView(false);
    tree->sliceAtIndex(1)->setExpandedInOutlineView(true);

    ChangeCounter changes(*tree);
    tree->clearSplitPointAtNode(quiet);
    EXPECT_EQ(tree->numberOfSlices(), 1);
    EXPECT_EQ(tree->sliceAtIndex(0)->rightSilenceSegment(), nullptr);
    EXPECT_TRUE(tree->sliceAtIndex(0)->expandedInOutlineView());
    EXPECT_FALSE(quiet->doesSplit());
    EXPECT_EQ(changes.count, 1);
}

TEST(AudioSegmentTree, ASplitPointAtTheVeryStartCanBeClearedAgain) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    Node leading = tree->addSilenceSegmentFrom(0, 100);
    tree->addSilenceSegmentFrom(500, 600);
    tree->createAudioSegmentsBetweenSilences();
    tree->splitSilencesToTracks();
    ASSERT_EQ(tree->numberOfSlices(), 3);
    EXPECT_EQ(tree->indexOfSliceForAudioSegment(*leading), 0);
    tree->clearSplitPointAtNode(leading);
    EXPECT_EQ(slices(*tree), "0..500 600..1000");
}

TEST(AudioSegmentTree, SplittingWithAGivenSliceUsesIt) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    Node quiet = tree->addSilenceSegmentFrom(300, 310);
    auto other = AudioSegmentTree::create();
    auto given = other->sliceAtIndex(0);
    given->setTitle("Given");
    tree->setSplitPointAtNode(quiet, given);
    EXPECT_EQ(tree->sliceAtIndex(1), given);
    EXPECT_EQ(given->trackNumber(), 2);
    EXPECT_EQ(given->startTime(), 310);
    EXPECT_EQ(given->endTime(), 1000);
}

TEST(AudioSegmentTree, SplitAndClearRefuseNodesOutsideEverySlice) {
    auto tree = threeSliceTree();
    EXPECT_THROW(tree->setSplitPointAtNode(AudioSegmentNode::silenceSegmentNodeFrom(2000, 3000)),
                 platform::NamedException);
    EXPECT_THROW(tree->clearSplitPointAtNode(tree->audioSegmentAtIndex(4)), platform::NamedException);
    EXPECT_THROW(tree->sliceAtIndex(3), platform::NamedException);
    EXPECT_THROW(tree->removeSliceAtIndex(-1), platform::NamedException);
    EXPECT_EQ(tree->numberOfSlices(), 3);
}

TEST(AudioSegmentTree, CopyTitlesCountUp) {
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf("Song"), "Song Copy");
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf("Song Copy"), "Song Copy 1");
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf("Song Copy 1"), "Song Copy 2");
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf("A Copy B Copy 3"), "A Copy 4");
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf("Song Copy  -7x"), "Song Copy -6");
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf("X Copy 99999999999999999999"), "X Copy 2147483648");
    EXPECT_EQ(AudioSegmentTree::titleForCopyOf(std::nullopt), std::nullopt);
}

// Two tracks of 40 s around a 10 s one, separated by one-second silences, in frames.
std::shared_ptr<AudioSegmentTree> treeWithShortMiddleTrack(double middleSeconds) {
    auto tree = AudioSegmentTree::create();
    const double rate = AudioSegmentTree::SampleRate;
    double middleEnd = 41 * rate + middleSeconds * rate;
    tree->setDuration(middleEnd + 41 * rate);
    tree->addSilenceSegmentFrom(40 * rate, 41 * rate);
    tree->addSilenceSegmentFrom(middleEnd, middleEnd + rate);
    tree->createAudioSegmentsBetweenSilences();
    tree->splitSilencesToTracks();
    return tree;
}

TEST(AudioSegmentTree, AutoDefineMergesAudioShorterThanTheMinimumTrackDurationInFrames) {
    auto tree = treeWithShortMiddleTrack(10);
    platform::LogCapture log;
    ChangeCounter changes(*tree);
    tree->performAutoDefine();
    EXPECT_EQ(log.count("merge!!!\n"), 1u);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(tree->numberOfAudioSegments(), 3);
    EXPECT_EQ(tree->audioSegmentAtIndex(1)->nodeType(), AudioSegmentNode::Collection);
    EXPECT_EQ(tree->numberOfSlices(), 3);  // slices keep their silences

    // Split silences now live inside the collection, which the slices share.
    EXPECT_EQ(tree->numberOfAudioSegmentsInSlice(*tree->sliceAtIndex(1)), 1);
    EXPECT_EQ(tree->audioSegmentAtIndex(0, *tree->sliceAtIndex(1)), tree->audioSegmentAtIndex(1));
    EXPECT_EQ(tree->numberOfAudioSegmentsInSlice(*tree->sliceAtIndex(0)), 2);
}

TEST(AudioSegmentTree, AutoDefineThresholdIsExactlyTheMinimumDuration) {
    auto atThreshold = treeWithShortMiddleTrack(30);
    platform::LogCapture log;
    ChangeCounter changes(*atThreshold);
    atThreshold->performAutoDefine();
    EXPECT_EQ(log.count("merge!!!\n"), 0u);
    EXPECT_EQ(changes.count, 0);

    auto shorter = treeWithShortMiddleTrack(30 - 1 / AudioSegmentTree::SampleRate);
    shorter->performAutoDefine();
    EXPECT_EQ(log.count("merge!!!\n"), 1u);

    auto configured = treeWithShortMiddleTrack(30);
    configured->setMinimumTrackDuration(45);
    configured->performAutoDefine();
    EXPECT_EQ(log.count("merge!!!\n"), 4u);  // every track is now too short
}

TEST(AudioSegmentTree, ChangingTheSilenceBoundsReordersOnlyOnChange) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(100);
    tree->addAudioSegmentFrom(0, 10);
    tree->addSilenceSegmentFrom(10, 12);
    tree->addAudioSegmentFrom(12, 50);
    tree->addSilenceSegmentFrom(50, 80);
    tree->addAudioSegmentFrom(80, 100);
    ChangeCounter changes(*tree);
    tree->setMinSilenceDuration(1.0);
    tree->setSilenceRangeMin(1.0, 60.0);
    EXPECT_EQ(changes.count, 0);

    // 2-frame silence now too short: merged with its neighbours.
    tree->setMinSilenceDuration(5.0);
    EXPECT_EQ(layout(*tree), "C0-50 S50-80 A80-100");
    EXPECT_EQ(changes.count, 1);

    // Back in range: the collection is split around it again.
    tree->setMinSilenceDuration(1.0);
    EXPECT_EQ(layout(*tree), "A0-10 S10-12 A12-50 S50-80 A80-100");
    EXPECT_EQ(changes.count, 2);

    tree->setMaxSilenceDuration(20.0);
    EXPECT_EQ(layout(*tree), "A0-10 S10-12 C12-100");
}

TEST(AudioSegmentTree, DescriptionListsSegmentsAndLogsAHistogramWithinItsCounters) {
    auto tree = AudioSegmentTree::create();
    tree->addSilenceSegmentFrom(0, 1.55);
    tree->addSilenceSegmentFrom(10, 11.5);
    tree->addSilenceSegmentFrom(30, 30 + 19.95);
    tree->addSilenceSegmentFrom(60, 80);      // 20.0: no counter
    tree->addSilenceSegmentFrom(100, 44200);  // frames-long: no counter
    tree->addAudioSegmentFrom(3, 4);
    platform::LogCapture log;
    std::string text = tree->description();
    EXPECT_EQ(text.rfind("Root node has 6 audio segment nodes:\n0: nodeType = Silence", 0), 0u);
    EXPECT_NE(text.find("\n5: nodeType = Silence, numChildren = 0, startTime = 100.00, endTime = 44200.00\n"),
              std::string::npos);
    EXPECT_TRUE(log.contains("silences 1.5 s - 1.6 s: 2"));
    EXPECT_TRUE(log.contains("silences 19.9 s - 20.0 s: 1"));
    EXPECT_TRUE(log.contains("total silences: 3"));
    EXPECT_EQ(log.lines().size(), 201u);
}

}  // namespace
