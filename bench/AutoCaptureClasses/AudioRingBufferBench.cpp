// One writer and one reader thread moving 512-frame blocks (4096 bytes of
// interleaved float stereo) through AudioRingBuffer, side by side with
// boost::lockfree::spsc_queue moving the same bytes. Both sides hold 1 MiB
// of audio and both check every block's first word on arrival.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <boost/lockfree/spsc_queue.hpp>
#include <cstring>
#include <thread>

#include "AutoCaptureClasses/AudioRingBuffer.h"

namespace {

constexpr uint32_t kBlockFrames = 512;
constexpr uint32_t kBytesPerFrame = 8;
constexpr uint32_t kBlockBytes = kBlockFrames * kBytesPerFrame;
constexpr uint32_t kRingFrames = kBlockFrames * 256;
constexpr int64_t kBlocksPerRun = 20000;

using Block = std::array<uint8_t, kBlockBytes>;

void stamp(Block& block, int64_t index) { memcpy(block.data(), &index, sizeof index); }
int64_t stampOf(const Block& block) {
    int64_t index;
    memcpy(&index, block.data(), sizeof index);
    return index;
}

void RingStoreFetch(benchmark::State& state) {
    AudioRingBuffer ring;
    ring.Allocate(2, kBytesPerFrame, kRingFrames);
    for (auto _ : state) {
        ring.Allocate(2, kBytesPerFrame, kRingFrames);
        // The writer never overwrites what the reader has not taken yet, so
        // every byte arrives, as in the queue's case.
        std::atomic<int64_t> readBlocks{0};
        std::thread writer([&] {
            Block source{};
            AudioBufferList list{1, {{2, kBlockBytes, source.data()}}};
            for (int64_t i = 0; i < kBlocksPerRun; ++i) {
                while ((i + 1) * kBlockFrames - readBlocks.load(std::memory_order_acquire) * kBlockFrames > kRingFrames)
                    std::this_thread::yield();
                stamp(source, i);
                ring.Store(&list, kBlockFrames, i * kBlockFrames);
            }
        });
        Block destination{};
        AudioBufferList list{1, {{2, kBlockBytes, destination.data()}}};
        for (int64_t i = 0; i < kBlocksPerRun;) {
            if (ring.Fetch(&list, kBlockFrames, i * kBlockFrames) != kRingBufferOK) {
                std::this_thread::yield();
                continue;
            }
            if (stampOf(destination) != i) state.SkipWithError("ring delivered a wrong block");
            readBlocks.store(++i, std::memory_order_release);
        }
        writer.join();
    }
    state.SetBytesProcessed(state.iterations() * kBlocksPerRun * kBlockBytes);
}

void SpscQueuePushPop(benchmark::State& state) {
    auto queue = std::make_unique<boost::lockfree::spsc_queue<Block, boost::lockfree::capacity<256>>>();
    for (auto _ : state) {
        std::thread writer([&] {
            Block source{};
            for (int64_t i = 0; i < kBlocksPerRun; ++i) {
                stamp(source, i);
                while (!queue->push(source)) std::this_thread::yield();
            }
        });
        Block destination{};
        for (int64_t i = 0; i < kBlocksPerRun;) {
            if (!queue->pop(destination)) {
                std::this_thread::yield();
                continue;
            }
            if (stampOf(destination) != i) state.SkipWithError("queue delivered a wrong block");
            ++i;
        }
        writer.join();
    }
    state.SetBytesProcessed(state.iterations() * kBlocksPerRun * kBlockBytes);
}

}  // namespace

BENCHMARK(RingStoreFetch)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly();
BENCHMARK(SpscQueuePushPop)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->DisplayAggregatesOnly();

BENCHMARK_MAIN();
