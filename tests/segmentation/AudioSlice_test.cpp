#include "segmentation/AudioSlice.h"

#include "SegmentTestSupport.h"
#include "segmentation/DCDynamicBuffer.h"

#include <sys/resource.h>

#include <unistd.h>

#include <cstring>

#ifdef __SANITIZE_ADDRESS__
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }
#endif

namespace {

using namespace segtest;

// A slice runs between its silences, numbers itself by its place in the tree
// unless numbered, and is harmless once its tree is gone.
TEST(AudioSlice, SpansAndNumbersFollowTheTreeWhileItLives) {
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
    }
    EXPECT_EQ(copy->audioSegmentTree(), nullptr);
    EXPECT_EQ(copy->endTime(), 0.0);
    EXPECT_EQ(copy->trackCount(), 9);
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
}

TEST(DCDynamicBuffer, GrowsShrinksAndKeepsStorageNullWhenEmpty) {
    DCDynamicBuffer buffer(0);
    EXPECT_EQ(buffer.mData, nullptr);
    EXPECT_EQ(buffer.Resize(0), nullptr);
    ASSERT_TRUE(buffer.CopyInto("abcde", 5));
    buffer.RemoveFrom(2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.mData), buffer.mSize), "cde");
    buffer.RemoveFrom(3);
    EXPECT_EQ(buffer.mSize, 0u);
    EXPECT_EQ(buffer.mData, nullptr);

    DCDynamicBuffer sized(16);
    EXPECT_FALSE(sized.CopyInto("x", UINT32_MAX));  // would wrap the size
    EXPECT_EQ(sized.mSize, 16u);
    sized.RemoveFrom(100);  // more than it holds: emptied, never read past the end
    EXPECT_EQ(sized.mSize, 0u);
}

// Runs in a child process whose allocations are capped at 512 MiB (by the
// address-space limit, or under AddressSanitizer by its allocator options
// above), so that the reallocation really fails.
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
