#include "segmentation/AudioSegmentTree.h"

#include "SegmentTestSupport.h"
#include "platform/Log.h"

namespace {

using namespace segtest;

struct ChangeCounter : NotificationCounter {
    explicit ChangeCounter(const AudioSegmentTree& tree)
        : NotificationCounter(AudioSegmentTreeDidChangeNotification, &tree) {}
};

TEST(AudioSegmentTree, NewTreeHasOneExpandedSliceCoveringTheRecording) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(4410);
    EXPECT_EQ(slices(*tree), "0..4410");
    EXPECT_EQ(tree->sliceAtIndex(0)->title(), "My Track");
    EXPECT_TRUE(tree->sliceAtIndex(0)->expandedInOutlineView());
    EXPECT_EQ(tree->indexOfSliceForAudioSegment(*AudioSegmentNode::audioSegmentNodeFrom(9e9, 1e10)), 0);
    EXPECT_EQ(tree->minSilenceDuration(), 1.0);
    EXPECT_EQ(tree->maxSilenceDuration(), 60.0);
    EXPECT_EQ(tree.use_count(), 1);  // its slice does not keep it alive

    // Overlapping silences fuse into the first.
    auto fused = AudioSegmentTree::create();
    fused->addSilenceSegmentFrom(100, 200);
    Node second = fused->addSilenceSegmentFrom(150, 300);
    EXPECT_EQ(layout(*fused), "S100-300");
    EXPECT_EQ(fused->rootNode()->indexOfChild(second.get()), AudioSegmentNode::NotFound);
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
    auto tree = treeWith(1000, {{900, 1000}});
    EXPECT_EQ(layout(*tree), "A0-900 S900-1000");
    EXPECT_EQ(tree->numberOfSlices(), 1);
    EXPECT_EQ(layout(*treeWith(500, {}, false)), "A0-500");
    auto empty = treeWith(0, {}, false);
    EXPECT_EQ(layout(*empty), "A0-0");
    EXPECT_EQ(empty->shortestSilenceInTree(), 100000000.0);
    EXPECT_EQ(empty->longestSilenceInTree(), 0.0);
}

TEST(AudioSegmentTree, SettingAndClearingSplitPoints) {
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

    // Splitting with a given slice uses it.
    Node early = tree->addSilenceSegmentFrom(300, 310);
    auto other = AudioSegmentTree::create();
    auto given = other->sliceAtIndex(0);
    given->setTitle("Given");
    tree->setSplitPointAtNode(early, given);
    EXPECT_EQ(tree->sliceAtIndex(1), given);
    EXPECT_EQ(given->trackNumber(), 2);
    EXPECT_EQ(given->startTime(), 310);
    EXPECT_EQ(given->endTime(), 1000);

    // A split point at the very start can be cleared again.
    auto atStart = treeWith(1000, {{0, 100}, {500, 600}});
    Node leading = atStart->audioSegmentAtIndex(0);
    ASSERT_EQ(slices(*atStart), "0..0 100..500 600..1000");
    EXPECT_EQ(atStart->indexOfSliceForAudioSegment(*leading), 0);
    atStart->clearSplitPointAtNode(leading);
    EXPECT_EQ(slices(*atStart), "0..500 600..1000");
}

TEST(AudioSegmentTree, SplitAndClearRefuseNodesOutsideEverySlice) {
    auto tree = treeWith(1000, {{100, 200}, {500, 600}});
    for (const auto& refused : std::vector<std::function<void()>>{
             [&] { tree->setSplitPointAtNode(silence(2000, 3000)); },
             [&] { tree->clearSplitPointAtNode(tree->audioSegmentAtIndex(4)); }, [&] { tree->sliceAtIndex(3); },
             [&] { tree->removeSliceAtIndex(-1); }})
        expectRaises(refused, "NSRangeException", "index out of array bounds");
    EXPECT_EQ(slices(*tree), "0..100 200..500 600..1000");
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
    const double rate = AudioSegmentTree::SampleRate, middleEnd = 41 * rate + middleSeconds * rate;
    return treeWith(middleEnd + 41 * rate, {{40 * rate, 41 * rate}, {middleEnd, middleEnd + rate}});
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
