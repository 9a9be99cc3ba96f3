// SkipList against its standard peers: ordered insertion against std::multiset,
// a scan by rising index against an indexed std::vector scan.
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

void SkipListAdd(benchmark::State& state) {
    std::vector<Node> nodes = randomNodes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        auto list = std::make_unique<SkipList>();
        for (const Node& node : nodes) list->addObject(node);
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

}  // namespace

BENCHMARK(SkipListAdd)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(MultisetInsert)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(SkipListScan)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(SkipListScanAfterChange)->RangeMultiplier(10)->Range(1000, 1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(VectorScan)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
