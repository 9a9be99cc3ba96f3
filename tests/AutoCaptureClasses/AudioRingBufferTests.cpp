// The ring's result codes, gap fill and wrap-around; and one writer and one
// reader thread on a small ring: every frame the reader accepts must carry
// exactly the content stored for its frame number, while the writer wraps
// around the buffer and laps the reader again and again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <random>
#include <thread>
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

// The stress tests' ring and largest store. Each stress test runs at least
// kMinimumRun, and past it until it has checked enough; only a hang reaches the cap.
constexpr uint32_t kCapacity = 1024;
constexpr uint32_t kMaxBlock = 700;
using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kMinimumRun{1500};
constexpr std::chrono::seconds kHangCap{120};

// A stress test's channel 0 holds the frame number, channel 1 its complement.
uint64_t word0(int64_t frame) { return static_cast<uint64_t>(frame) * 0x9E3779B97F4A7C15ull; }
uint64_t word1(int64_t frame) { return ~word0(frame); }

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

TEST(AudioRingBufferStress, ReaderOnlyEverAcceptsTheFramesStored) {
    AudioRingBuffer ring;
    ring.Allocate(2, sizeof(uint64_t), kCapacity);
    std::atomic<bool> done{false};
    std::atomic<int64_t> written{0};

    std::thread writer([&] {
        std::vector<uint64_t> channel0(kMaxBlock), channel1(kMaxBlock);
        TwoBuffers source{2, {{1, 0, channel0.data()}, {1, 0, channel1.data()}}};
        std::mt19937 random(1);
        int64_t frame = 0;
        while (!done) {
            uint32_t n = 1 + random() % kMaxBlock;
            for (uint32_t i = 0; i < n; ++i) {
                channel0[i] = word0(frame + i);
                channel1[i] = word1(frame + i);
            }
            ASSERT_EQ(ring.Store(source.list(), n, frame), kRingBufferStored);
            frame += n;
            written.store(frame, std::memory_order_relaxed);
            // Now and then give the reader time to catch up, else it is lapped
            // every time.
            if (random() % 8 == 0) std::this_thread::yield();
        }
    });

    std::vector<uint64_t> channel0(kCapacity), channel1(kCapacity);
    TwoBuffers destination{2, {{1, 0, channel0.data()}, {1, 0, channel1.data()}}};
    std::mt19937 random(2);
    int64_t readFrame = 0;
    uint64_t verified = 0, lapped = 0, wrapped = 0;
    // Until the reader has been lapped and has wrapped often enough, however
    // slow the machine (a sanitizer build, a loaded runner).
    const auto start = Clock::now();
    auto enough = [&] {
        return verified >= 20000 && lapped >= 10 && wrapped >= 20 && Clock::now() > start + kMinimumRun;
    };
    while (!enough() && Clock::now() < start + kHangCap) {
        uint32_t n = 1 + random() % 600;
        int32_t result = ring.Fetch(destination.list(), n, readFrame);
        if (result == kRingBufferOK) {
            for (uint32_t i = 0; i < n; ++i) {
                ASSERT_EQ(channel0[i], word0(readFrame + i)) << "frame " << readFrame + i;
                ASSERT_EQ(channel1[i], word1(readFrame + i)) << "frame " << readFrame + i;
            }
            wrapped += ((readFrame & (kCapacity - 1)) + n) > kCapacity;
            verified += n;
            readFrame += n;
        } else if (result == kRingBufferStartsEarly || result == kRingBufferWholeRangeEarly ||
                   result == kRingBufferTooMuch) {
            int64_t start = 0, end = 0;
            if (ring.GetTimeBounds(start, end) == kRingBufferOK) readFrame = start + (end - start) / 2;
            ++lapped;
        }
    }
    done = true;
    writer.join();
    EXPECT_TRUE(enough()) << "verified " << verified << ", lapped " << lapped << ", wrapped " << wrapped;
    EXPECT_LE(static_cast<int64_t>(readFrame), written.load());
}

// The writer goes back to frame 0 again and again, each time with content of
// a new round, while the reader already fetches the new round from frame 0.
// The old round ended far beyond the capacity, so its bounds hold no frame 0;
// a reader that took the old end and the new start for one pair of bounds
// would accept the old round's frames still lying under the new numbers.
TEST(AudioRingBufferStress, ReaderNeverAcceptsARoundTheWriterHasLeft) {
    constexpr uint32_t kBlock = 64;
    constexpr int64_t kRingBlocks = 4;
    constexpr int64_t kBlocksPerRound = 3 * kRingBlocks;
    constexpr uint64_t kRounds = 100;
    AudioRingBuffer ring;
    ring.Allocate(1, sizeof(uint64_t), kBlock * kRingBlocks);
    std::vector<uint64_t> out(kBlock);
    TwoBuffers destination{1, {{1, 0, out.data()}, {1, 0, nullptr}}};
    const auto start = Clock::now();
    for (uint64_t round = 1; round <= kRounds || Clock::now() < start + kMinimumRun; ++round) {
        ASSERT_LT(Clock::now() - start, kHangCap) << "round " << round;
        // The writer never laps the reader, so every block of the round arrives.
        std::atomic<int64_t> readBlocks{0};
        std::thread writer([&ring, &readBlocks, round] {
            std::vector<uint64_t> in(kBlock);
            TwoBuffers source{1, {{1, 0, in.data()}, {1, 0, nullptr}}};
            for (int64_t block = 0; block < kBlocksPerRound; ++block) {
                while (block - readBlocks.load(std::memory_order_acquire) >= kRingBlocks) std::this_thread::yield();
                for (uint32_t i = 0; i < kBlock; ++i) in[i] = word0(block * kBlock + i) ^ round;
                ring.Store(source.list(), kBlock, block * kBlock);
            }
        });
        for (int64_t block = 0; block < kBlocksPerRound;) {
            if (ring.Fetch(destination.list(), kBlock, block * kBlock) != kRingBufferOK) continue;
            for (uint32_t i = 0; i < kBlock; ++i)
                ASSERT_EQ(out[i], word0(block * kBlock + i) ^ round) << "round " << round << ", block " << block;
            readBlocks.store(++block, std::memory_order_release);
        }
        writer.join();
    }
}
