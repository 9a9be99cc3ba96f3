// One writer and one reader thread on a small ring: every frame the reader
// accepts must carry exactly the content stored for its frame number, while
// the writer wraps around the buffer and laps the reader again and again.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "AutoCaptureClasses/AudioRingBuffer.h"

namespace {

constexpr uint32_t kCapacity = 1024;
constexpr uint32_t kMaxBlock = 700;
using Clock = std::chrono::steady_clock;
// Each test runs at least this long, and past it until it has checked enough;
// only a hang reaches the cap.
constexpr std::chrono::milliseconds kMinimumRun{1500};
constexpr std::chrono::seconds kHangCap{120};

// Channel 0 holds the frame number, channel 1 its complement.
uint64_t word0(int64_t frame) { return static_cast<uint64_t>(frame) * 0x9E3779B97F4A7C15ull; }
uint64_t word1(int64_t frame) { return ~word0(frame); }

struct TwoChannelList {
    uint32_t count = 2;
    AudioBuffer buffers[2];
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(this); }
};

}  // namespace

TEST(AudioRingBufferStress, ReaderOnlyEverAcceptsTheFramesStored) {
    AudioRingBuffer ring;
    ring.Allocate(2, sizeof(uint64_t), kCapacity);
    std::atomic<bool> done{false};
    std::atomic<int64_t> written{0};

    std::thread writer([&] {
        std::vector<uint64_t> channel0(kMaxBlock), channel1(kMaxBlock);
        TwoChannelList source{2, {{1, 0, channel0.data()}, {1, 0, channel1.data()}}};
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
    TwoChannelList destination{2, {{1, 0, channel0.data()}, {1, 0, channel1.data()}}};
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
    TwoChannelList destination{1, {{1, 0, out.data()}, {1, 0, nullptr}}};
    const auto start = Clock::now();
    for (uint64_t round = 1; round <= kRounds || Clock::now() < start + kMinimumRun; ++round) {
        ASSERT_LT(Clock::now() - start, kHangCap) << "round " << round;
        // The writer never laps the reader, so every block of the round arrives.
        std::atomic<int64_t> readBlocks{0};
        std::thread writer([&ring, &readBlocks, round] {
            std::vector<uint64_t> in(kBlock);
            TwoChannelList source{1, {{1, 0, in.data()}, {1, 0, nullptr}}};
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
