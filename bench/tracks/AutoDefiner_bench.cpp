// The auto-definer against ffmpeg's silencedetect on the same recordings, and
// our reader alone against ffmpeg's decode to null: the floor the definer
// cannot go below.
//
// Recordings: 44100 Hz stereo 16-bit CAF, pieces of 3 to 4 minutes (tones
// with noise) separated by 2-second digital silences, generated once into
// $TROV_BENCH_DIR (default /tmp/trov-bench).

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "frameworks/ZORAudioBufferList.h"
#include "../QuietCommand.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "tracks/ZORTrackAutoDefiner.h"

extern char** environ;

namespace {

constexpr uint32_t kRate = 44100;

std::string benchDirectory() {
    const char* configured = std::getenv("TROV_BENCH_DIR");
    std::string dir = configured && *configured ? configured : "/tmp/trov-bench";
    std::filesystem::create_directories(dir);
    return dir;
}

// A piece: two tones and noise at a level that never stays below the threshold for long.
void fillPiece(std::vector<float>& block, uint64_t first, uint32_t piece, std::minstd_rand& random) {
    const double f1 = 220.0 * (1 + piece % 5), f2 = 331.0 + 17 * (piece % 7);
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    for (size_t i = 0; i < block.size() / 2; ++i) {
        const double t = double(first + i) / kRate;
        const float s = float(0.3 * std::sin(2 * M_PI * f1 * t) + 0.2 * std::sin(2 * M_PI * f2 * t));
        block[2 * i] = s + noise(random);
        block[2 * i + 1] = -s + noise(random);
    }
}

std::string recording(int minutes) {
    const std::string path = benchDirectory() + "/mix-" + std::to_string(minutes) + "min.caf";
    const uint64_t total = uint64_t(minutes) * 60 * kRate;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && uint64_t(info.st_size) > total * 4) return path;

    const AudioStreamBasicDescription client = *ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription();
    const AudioStreamBasicDescription file = ZORAudioStreamBasicDescription::linearPCM(
        kRate, 2, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian);
    auto writer = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, client, file);
    if (writer->open() != 0) std::abort();
    std::minstd_rand random(11);
    const uint32_t chunk = 44100;
    AudioBufferList* list = ZORAudioBufferList::allocateBuffers(1, 2, chunk * 8);
    std::vector<float> block(size_t(chunk) * 2);
    uint64_t written = 0;
    uint32_t piece = 0;
    while (written < total) {
        const uint64_t pieceFrames = std::min<uint64_t>((180 + 20 * (piece % 4)) * uint64_t(kRate), total - written);
        for (uint64_t done = 0; done < pieceFrames; done += chunk) {
            const uint32_t n = uint32_t(std::min<uint64_t>(chunk, pieceFrames - done));
            block.resize(size_t(n) * 2);
            fillPiece(block, done, piece, random);
            std::copy(block.begin(), block.end(), static_cast<float*>(list->mBuffers[0].mData));
            writer->write(list, n);
        }
        written += pieceFrames;
        const uint64_t gap = std::min<uint64_t>(2 * kRate, total - written);
        std::fill_n(static_cast<float*>(list->mBuffers[0].mData), chunk * 2, 0.0f);
        for (uint64_t done = 0; done < gap; done += chunk) writer->write(list, uint32_t(std::min<uint64_t>(chunk, gap - done)));
        written += gap;
        ++piece;
    }
    ZORAudioBufferList::destroyBuffers(list);
    if (writer->close() != 0) std::abort();
    return path;
}

int64_t lengthOf(const std::string& path) {
    auto file = ZORExtAudioFile::initForReading(path);
    file->open();
    return file->lengthInFrames();
}

void setRate(benchmark::State& state, int64_t frames) {
    state.counters["x_realtime"] = benchmark::Counter(double(frames) / kRate * double(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

void BM_AutoDefiner(benchmark::State& state) {
    const std::string path = recording(int(state.range(0)));
    const int64_t length = lengthOf(path);
    size_t tracks = 0;
    for (auto _ : state) {
        ZORTrackAutoDefiner definer;
        auto result = definer.autoDefineTracksInFile(path, uint32_t(length), 0.03f, 1.3f);
        tracks = result ? result->size() : 0;
    }
    state.counters["tracks"] = double(tracks);
    setRate(state, length);
}

void BM_TrovarioDefineProcess(benchmark::State& state) {
    const std::string path = recording(int(state.range(0)));
    for (auto _ : state)
        if (bench::runQuietly({TROVARIO_DEFINE, "--sensitivity", "0.03", "--silence-ms", "1300", path}) != 0)
            state.SkipWithError("trovario-define failed");
    setRate(state, lengthOf(path));
}

void BM_FfmpegSilencedetect(benchmark::State& state) {
    const std::string path = recording(int(state.range(0)));
    for (auto _ : state)
        if (bench::runQuietly({"ffmpeg", "-nostdin", "-i", path, "-af", "silencedetect=noise=0.03:d=1.3", "-f", "null", "-"}) != 0)
            state.SkipWithError("ffmpeg failed");
    setRate(state, lengthOf(path));
}

void BM_ReaderOnly(benchmark::State& state) {
    const std::string path = recording(int(state.range(0)));
    const int64_t length = lengthOf(path);
    const uint32_t block = uint32_t(length / 1000);
    std::vector<float> buffer(size_t(block) * 2);
    for (auto _ : state) {
        auto file = ZORExtAudioFile::initForReading(path);
        file->open();
        file->setClientStreamFormat(*ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription());
        AudioBufferList list{1, {{2, block * 8, buffer.data()}}};
        for (uint32_t frames = block; frames > 0;) {
            frames = block;
            file->read(&list, frames);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    setRate(state, length);
}

void BM_FfmpegDecodeToNull(benchmark::State& state) {
    const std::string path = recording(int(state.range(0)));
    for (auto _ : state)
        if (bench::runQuietly({"ffmpeg", "-nostdin", "-i", path, "-f", "null", "-"}) != 0) state.SkipWithError("ffmpeg failed");
    setRate(state, lengthOf(path));
}

}  // namespace

BENCHMARK(BM_AutoDefiner)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrovarioDefineProcess)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegSilencedetect)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReaderOnly)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegDecodeToNull)->Arg(10)->Arg(60)->Unit(benchmark::kMillisecond)->UseRealTime();
