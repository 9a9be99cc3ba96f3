// The export of a 5-minute track (AAC, 256 kb/s stereo) side by side with
// `ffmpeg -ss S -t T -i scratch -c:a aac -b:a 256k` on the same span. The
// recording (7 minutes, 44100 Hz stereo 16-bit CAF, tones with noise) is
// generated once into $TROV_BENCH_DIR (default /tmp/trov-bench).

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "agent/TrackExporter.h"
#include "../QuietCommand.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "tracks/TROVTrack.h"

extern char** environ;

namespace {

constexpr uint32_t kRate = 44100;
constexpr int64_t kRecordingSeconds = 7 * 60, kTrackStartSeconds = 60, kTrackSeconds = 5 * 60;

std::string benchDirectory() {
    const char* configured = std::getenv("TROV_BENCH_DIR");
    std::string dir = configured && *configured ? configured : "/tmp/trov-bench";
    std::filesystem::create_directories(dir);
    return dir;
}

std::string recording() {
    const std::string path = benchDirectory() + "/export-7min.caf";
    const uint64_t total = kRecordingSeconds * kRate;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && uint64_t(info.st_size) > total * 4) return path;
    const auto client = *ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription();
    const auto file = ZORAudioStreamBasicDescription::linearPCM(kRate, 2, 16,
                                                                kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian);
    auto writer = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, client, file);
    if (writer->open() != 0) std::abort();
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    std::vector<float> block(2 * kRate);
    for (uint64_t first = 0; first < total; first += kRate) {
        for (uint32_t i = 0; i < kRate; ++i) {
            const double t = double(first + i) / kRate;
            const float s = float(0.3 * std::sin(2 * M_PI * 330 * t) + 0.2 * std::sin(2 * M_PI * 523 * t));
            block[2 * i] = s + noise(random);
            block[2 * i + 1] = -s + noise(random);
        }
        AudioBufferList list{1, {{2, kRate * 8, block.data()}}};
        if (writer->write(&list, kRate) != 0) std::abort();
    }
    if (writer->close() != 0) std::abort();
    return path;
}

void BM_ExportTrack(benchmark::State& state) {
    const std::string source = recording(), target = benchDirectory() + "/export-ours.m4a";
    TrackExporter exporter{{}, source};
    auto track = TROVTrack::initWithNum(1, "Bench");
    track->setStartTime(kTrackStartSeconds * kRate);
    track->setStopTime((kTrackStartSeconds + kTrackSeconds) * kRate);
    for (auto _ : state)
        if (!exporter.exportTrack(*track, target)) state.SkipWithError("the export failed");
}

void BM_FfmpegAAC(benchmark::State& state) {
    const std::string source = recording(), target = benchDirectory() + "/export-ffmpeg.m4a";
    double cpuSeconds = 0;
    for (auto _ : state)
        if (bench::runQuietly({"ffmpeg", "-nostdin", "-y", "-ss", std::to_string(kTrackStartSeconds), "-t",
                               std::to_string(kTrackSeconds), "-i", source, "-c:a", "aac", "-b:a", "256k", target},
                              &cpuSeconds) != 0)
            state.SkipWithError("ffmpeg failed");
    state.counters["child_cpu_ms"] = 1000 * cpuSeconds / double(state.iterations());
}

}  // namespace

BENCHMARK(BM_ExportTrack)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegAAC)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
