// SkipList against its standard peers: ordered insertion against std::multiset,
// a scan by rising index against an indexed std::vector scan. DependentLoad is
// the floor of any search through n separately allocated nodes: the time of one
// load whose address comes from the previous one, over n cache lines.
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/SkipList.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <vector>

namespace {

using Node = std::shared_ptr<AudioSegmentNode>;

std::vector<Node> randomNodes(size_t count) {
    std::mt19937_64 random(1234);
    std::uniform_real_distribution<double> start(0.0, 1e9);
    std::vector<Node> nodes;
    nodes.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        double s = start(random);
        nodes.push_back(AudioSegmentNode::audioSegmentNodeFrom(s, s + 1.0));
    }
    return nodes;
}

struct ByStart {
    bool operator()(const Node& a, const Node& b) const { return a->startTime() < b->startTime(); }
};

// Additions to an empty list are placed when the list is next looked at: the
// look at the last object is timed with them.
void SkipListAdd(benchmark::State& state) {
    std::vector<Node> nodes = randomNodes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        auto list = std::make_unique<SkipList>();
        for (const Node& node : nodes) list->addObject(node);
        benchmark::DoNotOptimize(list->lastObject());
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void MultisetInsert(benchmark::State& state) {
    std::vector<Node> nodes = randomNodes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        auto set = std::make_unique<std::multiset<Node, ByStart>>();
        for (const Node& node : nodes) set->insert(node);
        state.PauseTiming();
        set.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void SkipListScan(benchmark::State& state) {
    std::vector<Node> nodes = randomNodes(static_cast<size_t>(state.range(0)));
    SkipList list;
    for (const Node& node : nodes) list.addObject(node);
    for (auto _ : state) {
        double sum = 0;
        for (uint32_t i = 0; i < list.count(); ++i) sum += list.objectAtIndex(i)->startTime();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The first scan after a change of the list: positions walked before are
// forgotten, so the scan walks the nodes again. Only the scan is timed.
void SkipListScanAfterChange(benchmark::State& state) {
    std::vector<Node> nodes = randomNodes(static_cast<size_t>(state.range(0)));
    SkipList list;
    for (const Node& node : nodes) list.addObject(node);
    Node extra = AudioSegmentNode::audioSegmentNodeFrom(0.5, 1.5);
    for (auto _ : state) {
        list.addObject(extra);
        list.removeObject(extra);
        auto start = std::chrono::steady_clock::now();
        double sum = 0;
        for (uint32_t i = 0; i < list.count(); ++i) sum += list.objectAtIndex(i)->startTime();
        benchmark::DoNotOptimize(sum);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void VectorScan(benchmark::State& state) {
    std::vector<Node> nodes = randomNodes(static_cast<size_t>(state.range(0)));
    std::stable_sort(nodes.begin(), nodes.end(), ByStart());
    for (auto _ : state) {
        double sum = 0;
        for (size_t i = 0; i < nodes.size(); ++i) sum += nodes[i]->startTime();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A chase through a random cycle of n cache lines, each holding the address of
// the next: one dependent load per step, as in every step of a search.
void DependentLoad(benchmark::State& state) {
    struct alignas(64) Line {
        const Line* next;
    };
    auto count = static_cast<size_t>(state.range(0));
    std::vector<Line> lines(count);
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937_64(1234));
    for (size_t i = 0; i < count; ++i) lines[order[i]].next = &lines[order[(i + 1) % count]];
    const Line* line = &lines[order[0]];
    for (auto _ : state) {
        for (size_t i = 0; i < count; ++i) line = line->next;
        benchmark::DoNotOptimize(line);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(SkipListAdd)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(MultisetInsert)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(SkipListScan)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(SkipListScanAfterChange)->RangeMultiplier(10)->Range(1000, 1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(VectorScan)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(DependentLoad)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
