// One identification as the service makes it at its first check: Chromaprint
// over 6 s of audio, and the catalog's lookup of that many items, in catalogs
// of 1 000 to 100 000 tracks.
//
// Catalogs: tracks of 210 s (1 696 items) of random fingerprint items, added
// in one batch once into $TROV_BENCH_DIR (default /tmp/trov-bench) and kept. The query is a
// stretch of one catalogued fingerprint, from a random item, with 2% of its
// bits flipped (about what a lossy copy at another phase differs by).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "frameworks/identification/FingerprintCatalog.h"
#include "frameworks/identification/Fingerprinter.h"

namespace {

constexpr size_t kTrackItems = 1696;
constexpr double kQuerySeconds = 6;
constexpr double kFlippedBits = 0.02;

std::string benchDirectory() {
    const char* configured = std::getenv("TROV_BENCH_DIR");
    std::string dir = configured && *configured ? configured : "/tmp/trov-bench";
    std::filesystem::create_directories(dir);
    return dir;
}

std::vector<uint32_t> trackFingerprint(int64_t track) {
    std::mt19937 random(uint32_t(track) * 2654435761u + 1);
    std::vector<uint32_t> items(kTrackItems);
    for (auto& item : items) item = random();
    return items;
}

// The catalog of `tracks` tracks, built when missing or incomplete.
std::unique_ptr<FingerprintCatalog> catalog(int64_t tracks) {
    const std::string path = benchDirectory() + "/catalog-" + std::to_string(tracks) + ".sqlite";
    {
        auto existing = FingerprintCatalog::open(path, FingerprintCatalog::Access::kReadOnly);
        if (existing && existing.value()->stats()->mTracks == tracks)
            return std::move(existing.value());
    }
    std::filesystem::remove(path);
    auto built = FingerprintCatalog::open(path, FingerprintCatalog::Access::kReadWrite);
    if (!built) throw std::runtime_error(built.message());
    std::vector<CatalogEntry> entries;
    entries.resize(size_t(tracks));
    for (int64_t track = 0; track < tracks; ++track) {
        CatalogEntry& entry = entries[size_t(track)];
        entry.mPath = "/music/artist " + std::to_string(track % 997) + "/album/" + std::to_string(track) + ".flac";
        entry.mSize = 30'000'000;
        entry.mModified = 1'700'000'000'000'000'000 + track;
        entry.mDuration = double(kTrackItems) * Fingerprinter::kSecondsPerItem;
        entry.mFingerprint = trackFingerprint(track);
        entry.mMetadata.mTitle = "Title " + std::to_string(track);
        entry.mMetadata.mArtist = "Artist " + std::to_string(track % 997);
        entry.mMetadata.mAlbum = "Album " + std::to_string(track / 12);
        entry.mMetadata.mYear = 1960 + int(track % 60);
        entry.mMetadata.mTrackNumber = int(track % 12) + 1;
    }
    if (auto added = built.value()->add(entries); !added) throw std::runtime_error(added.message());
    return std::move(built.value());
}

std::vector<uint32_t> query(int64_t tracks, std::mt19937& random) {
    const auto items = trackFingerprint(int64_t(random() % uint64_t(tracks)));
    const size_t length = size_t(kQuerySeconds / Fingerprinter::kSecondsPerItem) - 20;  // less the filters' reach
    const size_t start = random() % (items.size() - length);
    std::vector<uint32_t> stretch(items.begin() + long(start), items.begin() + long(start + length));
    std::bernoulli_distribution flip(kFlippedBits);
    for (auto& item : stretch)
        for (int bit = 0; bit < 32; ++bit)
            if (flip(random)) item ^= 1u << bit;
    return stretch;
}

void BM_Fingerprint(benchmark::State& state) {
    std::mt19937 random(7);
    std::vector<int16_t> samples(size_t(kQuerySeconds * Fingerprinter::kSampleRate));
    for (auto& sample : samples) sample = int16_t(random() % 20000) - 10000;
    for (auto _ : state) benchmark::DoNotOptimize(Fingerprinter::fingerprint(samples.data(), samples.size()));
}
BENCHMARK(BM_Fingerprint)->Unit(benchmark::kMillisecond);

void BM_Identify(benchmark::State& state) {
    const int64_t tracks = state.range(0);
    auto searched = catalog(tracks);
    std::mt19937 random(11);
    int64_t found = 0, queries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto stretch = query(tracks, random);
        state.ResumeTiming();
        auto matches = searched->identify(stretch);
        found += matches.ok() && !matches->empty();
        ++queries;
    }
    const auto stats = *searched->stats();
    state.counters["found"] = double(found) / double(queries);
    state.counters["bytes_per_track"] = double(stats.mFileBytes) / double(stats.mTracks);
}
BENCHMARK(BM_Identify)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
