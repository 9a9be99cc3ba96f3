// The ring's bounds, result codes, gap fill and split copies.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "AutoCaptureClasses/AudioRingBuffer.h"

namespace {

constexpr uint32_t kBytesPerFrame = 8;

// One interleaved buffer of `frames` frames whose 32-bit words count up from
// `firstValue`, so every frame is recognisable.
struct Block {
    std::vector<uint32_t> words;
    AudioBufferList list{};

    explicit Block(uint32_t frames, uint32_t firstValue = 0) : words(frames * 2) {
        std::iota(words.begin(), words.end(), firstValue);
        list.mNumberBuffers = 1;
        list.mBuffers[0] = {2, frames * kBytesPerFrame, words.data()};
    }
    // A block for fetching into: filled with a marker that no store writes.
    static Block destination(uint32_t frames) {
        Block block(frames);
        std::fill(block.words.begin(), block.words.end(), 0xDEADBEEFu);
        return block;
    }
};

std::pair<int64_t, int64_t> bounds(AudioRingBuffer& ring) {
    int64_t start = -99, end = -99;
    EXPECT_EQ(ring.GetTimeBounds(start, end), kRingBufferOK);
    return {start, end};
}

}  // namespace

TEST(AudioRingBuffer, AllocateRaisesTheCapacityToAPowerOfTwo) {
    AudioRingBuffer ring;
    EXPECT_EQ(ring.mChannelBuffers, nullptr);
    EXPECT_EQ(ring.mCapacityFrames, 0u);
    ring.Allocate(2, 8, 1000);
    EXPECT_EQ(ring.mCapacityFrames, 1024u);
    EXPECT_EQ(ring.mCapacityFrameMask, 1023u);
    EXPECT_EQ(ring.mCapacityBytes, 8192u);
    EXPECT_EQ(ring.mChannelBuffers[1] - ring.mChannelBuffers[0], 8192);
    ring.Allocate(2, 8, 1024);
    EXPECT_EQ(ring.mCapacityFrames, 1024u);
    ring.Allocate(2, 8, 0);
    EXPECT_EQ(ring.mCapacityFrames, 1u);
    ring.Allocate(2, 8, 1);
    EXPECT_EQ(ring.mCapacityFrames, 1u);
    ring.Allocate(2, 8, 512 * 256);
    EXPECT_EQ(ring.mCapacityFrames, 131072u);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{0}));

    ring.Deallocate();
    EXPECT_EQ(ring.mChannelBuffers, nullptr);
    EXPECT_EQ(ring.mCapacityFrames, 0u);
    EXPECT_EQ(ring.mCapacityBytes, 0u);
    EXPECT_EQ(ring.mCapacityFrameMask, 131071u);
}

TEST(AudioRingBuffer, ReallocatingDiscardsContentAndBounds) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block block(512);
    ASSERT_EQ(ring.Store(&block.list, 512, 0), kRingBufferStored);
    ring.Allocate(2, 8, 2048);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{0}));
    Block out = Block::destination(1);
    EXPECT_EQ(ring.Fetch(&out.list, 1, 0), kRingBufferEndsLate);
}

TEST(AudioRingBuffer, UnallocatedOrEmptyRingHasNothingToFetch) {
    AudioRingBuffer unallocated;
    Block out = Block::destination(16);
    EXPECT_EQ(unallocated.Fetch(&out.list, 16, 0), kRingBufferEndsLate);
    EXPECT_EQ(out.words[0], 0xDEADBEEFu);
    Block block(16);
    EXPECT_EQ(unallocated.Store(&block.list, 16, 0), kRingBufferTooMuch);

    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    EXPECT_EQ(ring.Fetch(&out.list, 16, 0), kRingBufferEndsLate);
    EXPECT_EQ(out.words[0], 0xDEADBEEFu);
}

TEST(AudioRingBuffer, StoreOfMoreThanTheCapacityChangesNothing) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block first(100, 7);
    ASSERT_EQ(ring.Store(&first.list, 100, 0), kRingBufferStored);
    Block tooBig(1025, 50000);
    EXPECT_EQ(ring.Store(&tooBig.list, 1025, 100), kRingBufferTooMuch);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{100}));
    Block out = Block::destination(100);
    ASSERT_EQ(ring.Fetch(&out.list, 100, 0), kRingBufferOK);
    EXPECT_EQ(out.words, first.words);

    Block whole(1024, 3);
    EXPECT_EQ(ring.Store(&whole.list, 1024, 5000), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{5000}, int64_t{6024}));
    Block all = Block::destination(1024);
    ASSERT_EQ(ring.Fetch(&all.list, 1024, 5000), kRingBufferOK);
    EXPECT_EQ(all.words, whole.words);
}

TEST(AudioRingBuffer, ResultCodesAfterTheWriterMovedOn) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    for (int64_t frame = 0; frame <= 1024; frame += 512) {
        Block block(512, static_cast<uint32_t>(frame * 2));
        ASSERT_EQ(ring.Store(&block.list, 512, frame), kRingBufferStored);
    }
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{512}, int64_t{1536}));
    Block out = Block::destination(2000);
    EXPECT_EQ(ring.Fetch(&out.list, 600, 0), kRingBufferStartsEarly);
    EXPECT_EQ(ring.Fetch(&out.list, 100, 0), kRingBufferWholeRangeEarly);
    EXPECT_EQ(ring.Fetch(&out.list, 1, 1536), kRingBufferEndsLate);
    EXPECT_EQ(ring.Fetch(&out.list, 1, 2000), kRingBufferWholeRangeLate);
    EXPECT_EQ(ring.Fetch(&out.list, 2000, 256), kRingBufferTooMuch);
    EXPECT_EQ(out.words[0], 0xDEADBEEFu);

    EXPECT_EQ(ring.CheckTimeBounds(1536, 1600), kRingBufferEndsLate);
    EXPECT_EQ(ring.CheckTimeBounds(100, 512), kRingBufferStartsEarly);
    EXPECT_EQ(ring.CheckTimeBounds(100, 511), kRingBufferWholeRangeEarly);
    EXPECT_EQ(ring.CheckTimeBounds(512, 1536), kRingBufferOK);
    EXPECT_EQ(ring.CheckTimeBounds(1537, 1538), kRingBufferWholeRangeLate);

    // The held frames come back in order, across the physical end.
    ASSERT_EQ(ring.Fetch(&out.list, 1024, 512), kRingBufferOK);
    for (uint32_t i = 0; i < 2048; ++i) ASSERT_EQ(out.words[i], 1024 + i);
}

TEST(AudioRingBuffer, StoreBeyondTheEndLeavesSilenceInEveryChannel) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block filler(1024, 1);
    // Fill both channel buffers with non-zero bytes through a two-buffer list.
    struct {
        uint32_t count;
        AudioBuffer buffers[2];
    } twoBuffers{2, {{2, 8192, filler.words.data()}, {2, 8192, filler.words.data()}}};
    ASSERT_EQ(ring.Store(reinterpret_cast<AudioBufferList*>(&twoBuffers), 1024, 0), kRingBufferStored);

    Block first(100, 5);
    ASSERT_EQ(ring.Store(&first.list, 100, 1024), kRingBufferStored);
    Block later(100, 9);
    ASSERT_EQ(ring.Store(&later.list, 100, 1624), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{700}, int64_t{1724}));

    Block gap = Block::destination(500);
    ASSERT_EQ(ring.Fetch(&gap.list, 500, 1124), kRingBufferOK);
    for (uint32_t word : gap.words) ASSERT_EQ(word, 0u);
    // Channel buffer 1 received no data from the one-buffer lists, but the gap
    // fill cleared it there too.
    const auto* channel1 = reinterpret_cast<const uint32_t*>(ring.mChannelBuffers[1]);
    for (uint32_t frame = 1124 % 1024; frame < 1624 % 1024; ++frame) {
        ASSERT_EQ(channel1[frame * 2], 0u);
        ASSERT_EQ(channel1[frame * 2 + 1], 0u);
    }
    // Outside the gap, channel buffer 1 keeps what the two-buffer list put there.
    EXPECT_EQ(channel1[(1024 % 1024) * 2], filler.words[0]);
}

TEST(AudioRingBuffer, GapLongerThanTheCapacityDiscardsEverythingHeld) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block first(1024, 1);
    ASSERT_EQ(ring.Store(&first.list, 1024, 0), kRingBufferStored);
    Block far(10, 77);
    ASSERT_EQ(ring.Store(&far.list, 10, 100000), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{100000 + 10 - 1024}, int64_t{100010}));
    Block out = Block::destination(1024);
    ASSERT_EQ(ring.Fetch(&out.list, 1024, 100000 + 10 - 1024), kRingBufferOK);
    for (uint32_t i = 0; i < (1024 - 10) * 2; ++i) ASSERT_EQ(out.words[i], 0u);
    for (uint32_t i = 0; i < 20; ++i) ASSERT_EQ(out.words[(1024 - 10) * 2 + i], 77 + i);
}

TEST(AudioRingBuffer, StoreBackInTimeDiscardsEverything) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block block(512, 1);
    ASSERT_EQ(ring.Store(&block.list, 512, 1000), kRingBufferStored);
    Block earlier(64, 300);
    ASSERT_EQ(ring.Store(&earlier.list, 64, 1200), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{1200}, int64_t{1264}));
    Block out = Block::destination(64);
    ASSERT_EQ(ring.Fetch(&out.list, 64, 1200), kRingBufferOK);
    EXPECT_EQ(out.words, earlier.words);
    EXPECT_EQ(ring.Fetch(&out.list, 1, 1199), kRingBufferStartsEarly);
}

TEST(AudioRingBuffer, RangesAcrossThePhysicalEndComeBackByteIdentical) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block lead(1000, 1);
    ASSERT_EQ(ring.Store(&lead.list, 1000, 0), kRingBufferStored);
    Block wrapping(300, 12345);
    ASSERT_EQ(ring.Store(&wrapping.list, 300, 1000), kRingBufferStored);
    // Frames 1000..1023 sit at the physical end, 1024..1299 at the start.
    const auto* channel0 = reinterpret_cast<const uint32_t*>(ring.mChannelBuffers[0]);
    EXPECT_EQ(channel0[1000 * 2], 12345u);
    EXPECT_EQ(channel0[0], 12345u + 24 * 2);
    Block out = Block::destination(300);
    ASSERT_EQ(ring.Fetch(&out.list, 300, 1000), kRingBufferOK);
    EXPECT_EQ(out.words, wrapping.words);
    Block straddling = Block::destination(100);
    ASSERT_EQ(ring.Fetch(&straddling.list, 100, 990), kRingBufferOK);
    EXPECT_EQ(straddling.words[0], lead.words[990 * 2]);
    EXPECT_EQ(straddling.words[20], wrapping.words[0]);
}

TEST(AudioRingBuffer, ZeroFrameStoresAndFetchesCopyNothing) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block block(16, 1);
    ASSERT_EQ(ring.Store(&block.list, 16, 0), kRingBufferStored);
    AudioBufferList empty{1, {{2, 0, nullptr}}};
    EXPECT_EQ(ring.Store(&empty, 0, 16), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{16}));
    EXPECT_EQ(ring.Fetch(&empty, 0, 8), kRingBufferOK);
    // A zero-frame store ahead of the end still moves the end (with a gap).
    EXPECT_EQ(ring.Store(&empty, 0, 40), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{40}));
}

TEST(AudioRingBuffer, ListWithMoreBuffersThanChannelsTouchesOnlyTheRingsChannels) {
    AudioRingBuffer ring;
    ring.Allocate(1, 8, 64);
    Block block(8, 1);
    struct {
        uint32_t count;
        AudioBuffer buffers[2];
    } twoBuffers{2, {{2, 64, block.words.data()}, {2, 64, block.words.data()}}};
    EXPECT_EQ(ring.Store(reinterpret_cast<AudioBufferList*>(&twoBuffers), 8, 0), kRingBufferStored);
    Block out0 = Block::destination(8), out1 = Block::destination(8);
    struct {
        uint32_t count;
        AudioBuffer buffers[2];
    } fetchList{2, {{2, 64, out0.words.data()}, {2, 64, out1.words.data()}}};
    EXPECT_EQ(ring.Fetch(reinterpret_cast<AudioBufferList*>(&fetchList), 8, 0), kRingBufferOK);
    EXPECT_EQ(out0.words, block.words);
    EXPECT_EQ(out1.words[0], 0xDEADBEEFu);
}

TEST(AudioRingBuffer, BoundsSnapshotSurvivesManyUpdatesAndNegativeFrames) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 16);
    for (int64_t i = 0; i < 100; ++i) ring.SetTimeBounds(-1000 + i, -990 + i);
    EXPECT_EQ(ring.mTimeBoundsIndex.load(), 100u);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{-901}, int64_t{-891}));
    // A newest entry whose counter does not match is never taken.
    ring.mTimeBounds[100 & 31].updateCounter = 7;
    int64_t start = 0, end = 0;
    EXPECT_EQ(ring.GetTimeBounds(start, end), kRingBufferBoundsBusy);
    EXPECT_EQ(ring.CheckTimeBounds(0, 1), kRingBufferBoundsBusy);
}
