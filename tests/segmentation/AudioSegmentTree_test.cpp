#include "segmentation/AudioSegmentTree.h"

#include "SegmentTestSupport.h"

#include <algorithm>

namespace {

using namespace segtest;

const char* const kChanged = AudioSegmentTreeDidChangeNotification;

// A new tree has one expanded slice over the whole recording; processing
// fuses overlapping silences, fills the gaps with audio and splits at every
// silence but a trailing one.
TEST(AudioSegmentTree, ProcessingFillsGapsAndSplitsAtEverySilence) {
    auto tree = AudioSegmentTree::create();
    NotificationCounter changes(kChanged, tree.get());
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
    EXPECT_EQ(tree.use_count(), 1);  // its slices do not keep it alive
    EXPECT_EQ(layout(*treeWith(0, {}, false)), "A0-0");
}

TEST(AudioSegmentTree, SettingAndClearingSplitPoints) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    Node quiet = tree->addSilenceSegmentFrom(400, 450);
    tree->setSplitPointAtNode(quiet);
    tree->sliceAtIndex(0)->setExpandedInOutlineView(false);
    NotificationCounter changes(kChanged, tree.get());
    tree->clearSplitPointAtNode(quiet);
    EXPECT_EQ(slices(*tree), "0..1000");
    EXPECT_TRUE(tree->sliceAtIndex(0)->expandedInOutlineView());  // the following slice was expanded
    EXPECT_FALSE(quiet->doesSplit());
    EXPECT_EQ(changes.count, 1);

    // Splitting with a given slice uses it.
    auto given = AudioSegmentTree::create()->sliceAtIndex(0);
    tree->setSplitPointAtNode(tree->addSilenceSegmentFrom(300, 310), given);
    EXPECT_EQ(tree->sliceAtIndex(1), given);
    EXPECT_EQ(slices(*tree), "0..300 310..1000");

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
        expectRaises(refused, "NSRangeException", "index out of array bounds");
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
        {10, 30, "A0-1764000 C1764000-2293200 A2293200-4057200"},
        {30, 30, "A0-1764000 S1764000-1808100 A1808100-3131100 S3131100-3175200 A3175200-4939200"},
        {30 - 1 / rate, 30, "A0-1764000 C1764000-3175199 A3175199-4939199"},
        {30, 45, "C0-4939200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        const double middleEnd = 41 * rate + c.middleSeconds * rate;
        auto tree = treeWith(middleEnd + 41 * rate, {{40 * rate, 41 * rate}, {middleEnd, middleEnd + rate}});
        tree->setMinimumTrackDuration(c.minimum);
        NotificationCounter changes(kChanged, tree.get());
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
    NotificationCounter changes(kChanged, tree.get());
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

// The histogram of silence lengths counts tenths of a second up to 20 s;
// longer silences must not reach past its counters.
TEST(AudioSegmentTree, DescriptionListsEverySegmentWhateverTheSilenceLengths) {
    auto tree = AudioSegmentTree::create();
    for (double start : {0.0, 30.0, 60.0}) tree->addSilenceSegmentFrom(start, start + 19.95);
    tree->addSilenceSegmentFrom(100, 120);
    tree->addSilenceSegmentFrom(200, 44200);
    std::string text = tree->description();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

}  // namespace
