// The ring's result codes, gap fill and wrap-around.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "AutoCaptureClasses/AudioRingBuffer.h"

namespace {

constexpr uint32_t kMarker = 0xDEADBEEFu;  // no store writes it

// Interleaved stereo frames of 32-bit words counting up from `first`, so every
// frame is recognisable; without `first`, filled with the marker to fetch into.
struct Block {
    std::vector<uint32_t> words;
    AudioBufferList list{};

    explicit Block(uint32_t frames, uint32_t first = kMarker) : words(frames * 2, kMarker) {
        if (first != kMarker) std::iota(words.begin(), words.end(), first);
        list.mNumberBuffers = 1;
        list.mBuffers[0] = {2, frames * 8, words.data()};
    }
};

struct TwoBuffers {
    uint32_t count = 2;
    AudioBuffer buffers[2];
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(this); }
};

std::pair<int64_t, int64_t> bounds(AudioRingBuffer& ring) {
    int64_t start = -99, end = -99;
    EXPECT_EQ(ring.GetTimeBounds(start, end), kRingBufferOK);
    return {start, end};
}

}  // namespace

TEST(AudioRingBuffer, ResultCodesAtEveryEdgeOfTheHeldRange) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1000);  // raised to 1024
    for (int64_t frame = 0; frame <= 1024; frame += 512) {
        Block block(512, static_cast<uint32_t>(frame * 2));
        ASSERT_EQ(ring.Store(&block.list, 512, frame), kRingBufferStored);
    }
    ASSERT_EQ(bounds(ring), std::make_pair(int64_t{512}, int64_t{1536}));
    const struct {
        int64_t start;
        uint32_t frames;
        int32_t result;
    } cases[] = {{0, 600, kRingBufferStartsEarly},    {100, 412, kRingBufferStartsEarly},
                 {100, 411, kRingBufferWholeRangeEarly}, {1536, 1, kRingBufferEndsLate},
                 {1500, 100, kRingBufferEndsLate},    {1537, 1, kRingBufferWholeRangeLate},
                 {256, 2000, kRingBufferTooMuch},     {512, 1024, kRingBufferOK}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << " + " << c.frames);
        EXPECT_EQ(ring.CheckTimeBounds(c.start, c.start + c.frames), c.result);
        Block out(2000);
        EXPECT_EQ(ring.Fetch(&out.list, c.frames, c.start), c.result);
        EXPECT_TRUE(c.result == kRingBufferOK || out.words[0] == kMarker);
    }
    // The held frames come back in order, across the physical end.
    Block out(1024);
    ASSERT_EQ(ring.Fetch(&out.list, 1024, 512), kRingBufferOK);
    for (uint32_t i = 0; i < 2048; ++i) ASSERT_EQ(out.words[i], 1024 + i);
}

TEST(AudioRingBuffer, UnallocatedEmptyOverfilledOrRewoundRingsHandOutNothingStale) {
    AudioRingBuffer ring;
    Block out(1024), first(100, 7);
    EXPECT_EQ(ring.Fetch(&out.list, 16, 0), kRingBufferEndsLate);
    EXPECT_EQ(ring.Store(&first.list, 16, 0), kRingBufferTooMuch);
    ring.Allocate(2, 8, 1u << 28);  // 2 GiB per channel: more than offsets can address
    EXPECT_EQ(ring.Store(&first.list, 16, 0), kRingBufferTooMuch);
    ring.Allocate(2, 8, 1024);
    EXPECT_EQ(ring.Fetch(&out.list, 16, 0), kRingBufferEndsLate);
    EXPECT_EQ(out.words[0], kMarker);

    ASSERT_EQ(ring.Store(&first.list, 100, 0), kRingBufferStored);
    Block tooBig(1025, 50000);
    EXPECT_EQ(ring.Store(&tooBig.list, 1025, 100), kRingBufferTooMuch);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{100}));
    ASSERT_EQ(ring.Fetch(&out.list, 100, 0), kRingBufferOK);
    EXPECT_TRUE(std::equal(first.words.begin(), first.words.end(), out.words.begin()));

    // Exactly the capacity: the copies start and end at the same offset.
    Block whole(1024, 3);
    EXPECT_EQ(ring.Store(&whole.list, 1024, 5000), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{5000}, int64_t{6024}));
    ASSERT_EQ(ring.Fetch(&out.list, 1024, 5000), kRingBufferOK);
    EXPECT_EQ(out.words, whole.words);

    // A store back in time discards everything held.
    Block earlier(64, 300);
    ASSERT_EQ(ring.Store(&earlier.list, 64, 5200), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{5200}, int64_t{5264}));
    ASSERT_EQ(ring.Fetch(&out.list, 64, 5200), kRingBufferOK);
    EXPECT_TRUE(std::equal(earlier.words.begin(), earlier.words.end(), out.words.begin()));
    EXPECT_EQ(ring.Fetch(&out.list, 1, 5199), kRingBufferStartsEarly);

    // Reallocating discards content and bounds.
    ring.Allocate(2, 8, 2048);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{0}));
    EXPECT_EQ(ring.Fetch(&out.list, 1, 0), kRingBufferEndsLate);
}

TEST(AudioRingBuffer, StoreBeyondTheEndLeavesSilenceInEveryChannel) {
    AudioRingBuffer ring;
    ring.Allocate(2, 8, 1024);
    Block filler(1024, 1);
    TwoBuffers both{2, {{2, 8192, filler.words.data()}, {2, 8192, filler.words.data()}}};
    ASSERT_EQ(ring.Store(both.list(), 1024, 0), kRingBufferStored);
    // One-buffer lists from here on: only the gap fill touches channel 1.
    Block first(100, 5), later(100, 9);
    ASSERT_EQ(ring.Store(&first.list, 100, 1024), kRingBufferStored);
    ASSERT_EQ(ring.Store(&later.list, 100, 1624), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{700}, int64_t{1724}));

    Block gap0(502), gap1(502);
    TwoBuffers out{2, {{2, 502 * 8, gap0.words.data()}, {2, 502 * 8, gap1.words.data()}}};
    ASSERT_EQ(ring.Fetch(out.list(), 502, 1123), kRingBufferOK);
    EXPECT_EQ(gap0.words[0], first.words[198]);  // the last frame of `first`
    EXPECT_EQ(gap0.words[1002], later.words[0]);
    EXPECT_EQ(gap1.words[0], filler.words[198]);  // channel 1 outside the gap is kept
    EXPECT_EQ(std::count(gap0.words.begin() + 2, gap0.words.begin() + 1002, 0u), 1000);
    EXPECT_EQ(std::count(gap1.words.begin() + 2, gap1.words.begin() + 1002, 0u), 1000);

    // A gap longer than the capacity leaves only silence before the new frames.
    Block far(10, 77);
    ASSERT_EQ(ring.Store(&far.list, 10, 100000), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{100010 - 1024}, int64_t{100010}));
    Block all(1024);
    ASSERT_EQ(ring.Fetch(&all.list, 1024, 100010 - 1024), kRingBufferOK);
    for (uint32_t i = 0; i < (1024 - 10) * 2; ++i) ASSERT_EQ(all.words[i], 0u);
    EXPECT_TRUE(std::equal(far.words.begin(), far.words.end(), all.words.end() - 20));
}

TEST(AudioRingBuffer, ZeroFramesExtraBuffersAndWrappedBoundsTouchNothingTheyShouldNot) {
    AudioRingBuffer ring;
    ring.Allocate(1, 8, 64);
    Block block(16, 1);
    TwoBuffers in{2, {{2, 128, block.words.data()}, {2, 128, block.words.data()}}};
    ASSERT_EQ(ring.Store(in.list(), 16, 0), kRingBufferStored);
    AudioBufferList empty{1, {{2, 0, nullptr}}};
    EXPECT_EQ(ring.Store(&empty, 0, 16), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{16}));
    EXPECT_EQ(ring.Fetch(&empty, 0, 8), kRingBufferOK);
    // A zero-frame store ahead of the end still moves the end (with a gap).
    EXPECT_EQ(ring.Store(&empty, 0, 40), kRingBufferStored);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{0}, int64_t{40}));

    // A one-channel ring fills only the first of two buffers.
    Block out0(16), out1(16);
    TwoBuffers out{2, {{2, 128, out0.words.data()}, {2, 128, out1.words.data()}}};
    EXPECT_EQ(ring.Fetch(out.list(), 16, 0), kRingBufferOK);
    EXPECT_EQ(out0.words, block.words);
    EXPECT_EQ(out1.words[0], kMarker);

    // The queue of bounds wraps around many times, with negative frame numbers.
    for (int64_t i = 0; i < 100; ++i) ring.SetTimeBounds(-1000 + i, -990 + i);
    EXPECT_EQ(bounds(ring), std::make_pair(int64_t{-901}, int64_t{-891}));
    EXPECT_EQ(ring.CheckTimeBounds(-901, -891), kRingBufferOK);
}
