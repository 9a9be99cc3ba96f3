// detectSilence against the memory-bound floor: a loop that only compares
// every sample against the threshold.
#include "segmentation/SilenceDetector.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr uint32_t TenMinutes = 10 * 60 * 44100;
constexpr uint32_t BlockFrames = 2048;
constexpr float Threshold = 0.001f;

// Three-minute "songs" of a few detuned partials under a slow envelope with a
// little noise, two seconds of digital silence between them.
const std::vector<float>& music() {
    static const std::vector<float> samples = [] {
        std::vector<float> s(2 * static_cast<size_t>(TenMinutes));
        std::mt19937 random(5);
        std::normal_distribution<float> noise(0.0f, 0.002f);
        const double twoPi = 6.283185307179586;
        for (uint32_t i = 0; i < TenMinutes; ++i) {
            double t = i / 44100.0;
            double inSong = std::fmod(t, 182.0);
            if (inSong >= 180.0) continue;
            double envelope = 0.3 + 0.2 * std::sin(twoPi * 0.25 * t);
            double left = std::sin(twoPi * 220.0 * t) + 0.5 * std::sin(twoPi * 331.0 * t) + 0.25 * std::sin(twoPi * 440.7 * t);
            double right = std::sin(twoPi * 220.5 * t) + 0.5 * std::sin(twoPi * 329.6 * t);
            s[2 * size_t(i)] = static_cast<float>(envelope * left * 0.5) + noise(random);
            s[2 * size_t(i) + 1] = static_cast<float>(envelope * right * 0.5) + noise(random);
        }
        return s;
    }();
    return samples;
}

void DetectSilence(benchmark::State& state) {
    const std::vector<float>& samples = music();
    size_t silences = 0;
    for (auto _ : state) {
        SilenceDetector detector(Threshold, 0.25f);
        for (uint32_t first = 0; first < TenMinutes; first += BlockFrames)
            detector.detectSilence(samples.data() + 2 * size_t(first), std::min(BlockFrames, TenMinutes - first), first);
        silences = detector.tracks().size();
    }
    state.counters["silences"] = static_cast<double>(silences);
    state.SetBytesProcessed(state.iterations() * int64_t(samples.size() * sizeof(float)));
}

void ThresholdFloor(benchmark::State& state) {
    const std::vector<float>& samples = music();
    for (auto _ : state) {
        size_t quiet = 0;
        for (float sample : samples) quiet += !(std::fabs(sample) > Threshold);
        benchmark::DoNotOptimize(quiet);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(samples.size() * sizeof(float)));
}

}  // namespace

BENCHMARK(DetectSilence)->Unit(benchmark::kMillisecond);
BENCHMARK(ThresholdFloor)->Unit(benchmark::kMillisecond);
