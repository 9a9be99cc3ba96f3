// The deliverer against ffmpeg converting the same export. The export is a
// 5-minute 256 kb/s AAC .m4a of a tone under noise, generated once into
// $TROV_BENCH_DIR (default /tmp/trov-bench); every delivery takes a fresh copy.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "library/MusicLibraryDeliverer.h"
#include "library/ProgramRunner.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTimeoutSeconds = 600;
constexpr size_t kCoverBytes = 200 * 1024;

fs::path benchFolder() {
    const char* folder = std::getenv("TROV_BENCH_DIR");
    return fs::path(folder && *folder ? folder : "/tmp/trov-bench") / "delivery";
}

const std::string& masterExport() {
    static const std::string path = [] {
        fs::create_directories(benchFolder());
        std::string file = benchFolder() / "export-5min.m4a";
        if (!fs::exists(file)) {
            platform::Status made = ProgramRunner::run(
                {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=300",
                 "-f", "lavfi", "-i", "anoisesrc=duration=300:amplitude=0.05", "-filter_complex", "amix=inputs=2",
                 "-ac", "2", "-c:a", "aac", "-b:a", "256k", file},
                kTimeoutSeconds);
            if (!made) std::abort();
        }
        return file;
    }();
    return path;
}

DeliveryRequest request(DeliveryRequest::Encoder encoder) {
    DeliveryRequest r;
    r.mExportedFile = benchFolder() / "export.m4a";
    r.mEncoder = encoder;
    r.mTimeoutSeconds = kTimeoutSeconds;
    ZORAudioTrackInfo& info = r.mTrackInfo;
    info.setTrackTitle("Bench");
    info.setTrackArtistName("Artist");
    info.setAlbumTitle("Album");
    info.setGenre("Jazz");
    info.setAlbumYear("2024");
    info.setTrackNumber(1);
    info.setNumberOfTracks(10);
    auto cover = std::make_shared<ZORAudioTrackInfo::Image>(kCoverBytes, uint8_t(0x5A));
    (*cover)[0] = 0xFF;
    (*cover)[1] = 0xD8;
    info.setCoverArt(cover);
    return r;
}

void BM_Deliver(benchmark::State& state) {
    const auto encoder = DeliveryRequest::Encoder(state.range(0));
    const DeliveryRequest r = request(encoder);
    const std::string music = benchFolder() / "Music";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(music);
        fs::copy_file(masterExport(), r.mExportedFile, fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        if (!MusicLibraryDeliverer::deliver(r, music)) state.SkipWithError("delivery failed");
    }
}

void BM_FFmpegConversion(benchmark::State& state) {
    const bool mp3 = state.range(0) == DeliveryRequest::kMP3;
    const std::string output = benchFolder() / (mp3 ? "ffmpeg.mp3" : "ffmpeg.m4a");
    for (auto _ : state) {
        platform::Status done = ProgramRunner::run(
            {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", masterExport(), "-c:a", mp3 ? "libmp3lame" : "alac",
             "-b:a", "320k", output},
            kTimeoutSeconds);
        if (!done) state.SkipWithError("ffmpeg failed");
    }
}

}  // namespace

BENCHMARK(BM_Deliver)->Arg(DeliveryRequest::kAAC)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(BM_Deliver)->Arg(DeliveryRequest::kAppleLossless)->Arg(DeliveryRequest::kMP3)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FFmpegConversion)->Arg(DeliveryRequest::kAppleLossless)->Arg(DeliveryRequest::kMP3)
    ->Unit(benchmark::kMillisecond)->Iterations(3);
