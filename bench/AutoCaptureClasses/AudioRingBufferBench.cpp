// One writer and one reader thread moving 512-frame blocks (4096 bytes of
// interleaved float stereo) through AudioRingBuffer, side by side with
// boost::lockfree::spsc_queue moving the same bytes; both check every block's
// first word on arrival. The argument is how many blocks the writer may run
// ahead, and both hold exactly that many: 256 (the recorder's 1 MiB rings,
// where the reader often finds its data gone cold) and 16 (a reader that
// keeps up, as play-through does). Reader and writer are pinned to cores of
// their own, on both sides alike: left to the scheduler, the two threads
// sometimes share a core and the run time swings threefold.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
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

// The calling thread runs on `cpu` from now on (modulo the cores there are).
void pinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % std::max(1u, std::thread::hardware_concurrency()), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// Pins the benchmark's thread, the reader, while it lives; the writer goes to the next core.
struct ReaderPinning {
    cpu_set_t before;
    ReaderPinning() {
        pthread_getaffinity_np(pthread_self(), sizeof before, &before);
        pinTo(0);
    }
    ~ReaderPinning() { pthread_setaffinity_np(pthread_self(), sizeof before, &before); }
};

void stamp(Block& block, int64_t index) { memcpy(block.data(), &index, sizeof index); }
// The whole block must count as read: otherwise the compiler drops the
// queue's inlined copy-out, of which only this first word would be used,
// and the queue would move half the bytes the ring moves.
int64_t stampOf(Block& block) {
    benchmark::DoNotOptimize(block);
    int64_t index;
    memcpy(&index, block.data(), sizeof index);
    return index;
}

void RingStoreFetch(benchmark::State& state) {
    const int64_t window = state.range(0);
    // Allocated once, as the queue is, and as large: a run that starts again
    // at frame 0 makes the first store discard what the last run left.
    AudioRingBuffer ring;
    ring.Allocate(2, kBytesPerFrame, static_cast<uint32_t>(window) * kBlockFrames);
    ReaderPinning pinning;
    for (auto _ : state) {
        // The writer never overwrites what the reader has not taken yet, so
        // every byte arrives, as in the queue's case. The counter has a cache
        // line of its own, as the queue's indexes have, so that the writer
        // polling it does not steal the line the reader copies into.
        alignas(64) std::atomic<int64_t> readBlocks{0};
        // The writer takes its own copy of the lead: read through a reference
        // it could share a cache line with the reader's block.
        std::thread writer([&ring, &readBlocks, window] {
            pinTo(1);
            Block source{};
            AudioBufferList list{1, {{2, kBlockBytes, source.data()}}};
            for (int64_t i = 0; i < kBlocksPerRun; ++i) {
                while (i - readBlocks.load(std::memory_order_acquire) >= window)
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
    auto queue = std::make_unique<boost::lockfree::spsc_queue<Block>>(static_cast<size_t>(state.range(0)));
    ReaderPinning pinning;
    for (auto _ : state) {
        std::thread writer([queue = queue.get()] {
            pinTo(1);
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

// The same moves on one thread, block after block: the cost of the
// mechanism itself, free of the scheduler's noise on a shared machine.
void RingStoreFetchOneThread(benchmark::State& state) {
    AudioRingBuffer ring;
    ring.Allocate(2, kBytesPerFrame, kRingFrames);
    Block source{}, destination{};
    AudioBufferList in{1, {{2, kBlockBytes, source.data()}}};
    AudioBufferList out{1, {{2, kBlockBytes, destination.data()}}};
    int64_t frame = 0;
    for (auto _ : state) {
        stamp(source, frame);
        ring.Store(&in, kBlockFrames, frame);
        if (ring.Fetch(&out, kBlockFrames, frame) != kRingBufferOK || stampOf(destination) != frame)
            state.SkipWithError("ring delivered a wrong block");
        frame += kBlockFrames;
    }
    state.SetBytesProcessed(state.iterations() * kBlockBytes);
}

void SpscQueuePushPopOneThread(benchmark::State& state) {
    auto queue = std::make_unique<boost::lockfree::spsc_queue<Block>>(256);
    Block source{}, destination{};
    int64_t index = 0;
    for (auto _ : state) {
        stamp(source, index);
        queue->push(source);
        if (!queue->pop(destination) || stampOf(destination) != index)
            state.SkipWithError("queue delivered a wrong block");
        ++index;
    }
    state.SetBytesProcessed(state.iterations() * kBlockBytes);
}

}  // namespace

BENCHMARK(RingStoreFetchOneThread);
BENCHMARK(SpscQueuePushPopOneThread);
BENCHMARK(RingStoreFetch)->Arg(256)->Arg(16)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SpscQueuePushPop)->Arg(256)->Arg(16)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
