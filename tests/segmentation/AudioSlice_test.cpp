#include "segmentation/AudioSlice.h"

#include "SegmentTestSupport.h"
#include "segmentation/DCDynamicBuffer.h"
#include "segmentation/SilenceObject.h"

#include <sys/resource.h>

#include <unistd.h>

#include <cstring>

#ifdef __SANITIZE_ADDRESS__
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }
#endif

namespace {

using namespace segtest;

TEST(AudioSlice, SpansTheWholeTreeOrRunsBetweenItsSilencesAndNumbersItselfByPosition) {
    auto tree = AudioSegmentTree::create();
    tree->setDuration(1000);
    AudioSlice& slice = *tree->sliceAtIndex(0);
    EXPECT_EQ(slices(*tree), "0..1000");
    EXPECT_EQ(slice.title(), "My Track");
    EXPECT_EQ(slice.artist(), std::nullopt);
    EXPECT_EQ(slice.trackNumber(), 1);
    EXPECT_EQ(slice.trackCount(), 1);
    EXPECT_EQ(slice.description(), "AudioSlice [START:0.000000 END:1000.000000]");

    slice.setTrackNumber(7);
    slice.setTrackCount(9);
    EXPECT_EQ(slice.trackNumber(), 7);
    EXPECT_EQ(slice.trackCount(), 9);
    slice.setTrackNumber(0);
    EXPECT_EQ(slice.trackNumber(), 1);

    auto between = AudioSlice::audioSliceWithTree(tree, silence(100, 200), silence(500, 600));
    EXPECT_EQ(between->startTime(), 200.0);
    EXPECT_EQ(between->endTime(), 500.0);
    EXPECT_EQ(between->duration(), 300.0);
}

TEST(AudioSlice, SettersNotifyOnlyOnChangeExceptTheAlwaysNotifyingOnes) {
    auto tree = AudioSegmentTree::create();
    AudioSlice& slice = *tree->sliceAtIndex(0);
    NotificationCounter changes(AudioSliceDidChangeNotification, &slice);
    slice.setArtist("Band");
    slice.setArtist("Band");
    EXPECT_EQ(changes.count, 1);
    slice.setTitle("Song");
    slice.setTitle("Song");
    EXPECT_EQ(changes.count, 3);
    slice.setGenre(std::nullopt);  // a null stored value never equals
    EXPECT_EQ(changes.count, 4);
    slice.setYear(0);
    slice.setCdCount(0);
    EXPECT_EQ(changes.count, 4);
    slice.setYear(1999);
    slice.setCdNumber(0);
    slice.setTrackCount(0);
    EXPECT_EQ(changes.count, 7);
}

TEST(AudioSlice, NonSilenceNodesAreRefusedAndThePreviousSilenceKept) {
    auto tree = AudioSegmentTree::create();
    AudioSlice& slice = *tree->sliceAtIndex(0);
    Node quiet = silence(1, 2);
    slice.setLeftSilenceSegment(quiet);
    for (const auto& refused : std::vector<std::function<void()>>{
             [&] { slice.setLeftSilenceSegment(audio(3, 4)); },
             [&] { slice.setRightSilenceSegment(AudioSegmentNode::collectionSegmentNode()); }})
        expectRaises(refused, "NSInvalidArgumentException", "AudioSegmentNode was not of type Silence");
    EXPECT_EQ(slice.leftSilenceSegment(), quiet);
    EXPECT_EQ(slice.rightSilenceSegment(), nullptr);
    slice.setLeftSilenceSegment(nullptr);
    EXPECT_EQ(slice.leftSilenceSegment(), nullptr);
}

TEST(AudioSlice, CopiesOwnTheirStrings) {
    auto tree = AudioSegmentTree::create();
    AudioSlice& source = *tree->sliceAtIndex(0);
    source.setComposer("Bach");
    source.setAlbumArtistName("Choir");
    source.setCdNumber(2);
    auto copy = source.copy();
    copy->setComposer("Handel");
    copy->setAlbumArtistName("Orchestra");
    EXPECT_EQ(source.composer(), "Bach");
    EXPECT_EQ(source.albumArtistName(), "Choir");
    EXPECT_EQ(copy->cdNumber(), 2);
    EXPECT_EQ(copy->audioSegmentTree(), tree);
    // Not held by the tree: no position to derive a number from.
    EXPECT_EQ(copy->trackNumber(), 0);
}

TEST(AudioSlice, OutlivingItsTreeIsHarmless) {
    std::shared_ptr<AudioSlice> slice;
    {
        auto tree = AudioSegmentTree::create();
        tree->setDuration(500);
        slice = tree->sliceAtIndex(0);
    }
    EXPECT_EQ(slice->audioSegmentTree(), nullptr);
    EXPECT_EQ(slice->endTime(), 0.0);
    EXPECT_EQ(slice->trackNumber(), 0);
    EXPECT_EQ(slice->trackCount(), 0);
}

TEST(SilenceObject, DurationIsEndMinusStart) {
    SilenceObject silence;
    EXPECT_EQ(silence.duration(), 0);
    silence.setStartTime(1000);
    silence.setEndTime(900);
    EXPECT_EQ(silence.duration(), -100);  // signed: an inverted span is no huge count
}

TEST(DCDynamicBuffer, GrowsShrinksAndKeepsStorageNullWhenEmpty) {
    DCDynamicBuffer buffer(0);
    EXPECT_EQ(buffer.mSize, 0u);
    EXPECT_EQ(buffer.mData, nullptr);
    EXPECT_EQ(buffer.Resize(0), nullptr);

    ASSERT_TRUE(buffer.CopyInto("abcde", 5));
    EXPECT_EQ(buffer.mSize, 5u);
    buffer.RemoveFrom(2);
    ASSERT_EQ(buffer.mSize, 3u);
    EXPECT_EQ(std::memcmp(buffer.mData, "cde", 3), 0);
    buffer.RemoveFrom(3);
    EXPECT_EQ(buffer.mSize, 0u);
    EXPECT_EQ(buffer.mData, nullptr);

    DCDynamicBuffer sized(16);
    EXPECT_EQ(sized.mSize, 16u);
    EXPECT_NE(sized.mData, nullptr);
    EXPECT_FALSE(sized.CopyInto("x", UINT32_MAX));  // would wrap the size
    EXPECT_EQ(sized.mSize, 16u);
    sized.RemoveFrom(100);  // more than it holds: emptied, never read past the end
    EXPECT_EQ(sized.mSize, 0u);
}

// Runs in a child process whose allocations are capped at 512 MiB (by the
// address-space limit, or under AddressSanitizer by its allocator options
// below), so that the reallocation really fails.
void growBeyondTheAllocationLimit() {
    DCDynamicBuffer buffer(0);
    buffer.CopyInto("keep", 4);
#ifndef __SANITIZE_ADDRESS__
    struct rlimit limit = {512u << 20, 512u << 20};
    setrlimit(RLIMIT_AS, &limit);
#endif
    void* storage = buffer.Resize(1u << 30);
    bool intact = storage == buffer.mData && buffer.mSize == 4 && std::memcmp(buffer.mData, "keep", 4) == 0;
    _exit(intact ? 0 : 1);
}

TEST(DCDynamicBufferDeathTest, FailedReallocationReportsAndKeepsSizeAndStorageInAgreement) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(growBeyondTheAllocationLimit(), testing::ExitedWithCode(0), "realloc failed\n");
}

}  // namespace
