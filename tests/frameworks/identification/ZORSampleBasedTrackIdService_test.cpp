#include <gtest/gtest.h>

#include "MusicLikePieces.h"
#include "frameworks/identification/ZORSampleBasedTrackIdService.h"
#include "platform/Log.h"

namespace {

using musiclike::concatenated;
using musiclike::excerpt;
using musiclike::piece;
using Service = ZORSampleBasedTrackIdService;

// Feeds the audio in the recommended format, in blocks, until the service is finished; the seconds it took.
double feed(ZORTrackIdService& service, const std::vector<float>& stereo) {
    EXPECT_EQ(service.recommendedInputFormat()->mSampleRate, Fingerprinter::kSampleRate);
    const auto samples = musiclike::fingerprinterFormat(stereo);
    size_t fed = 0;
    for (const size_t kBlock = 4096; fed < samples.size() && !service.isFinished(); fed += kBlock)
        service.processFrames(samples.data() + fed, uint32_t(std::min(kBlock, samples.size() - fed)));
    return double(fed) / Fingerprinter::kSampleRate;
}

TEST(ZORSampleBasedTrackIdService, NamesCataloguedMusicSoonFromAnyStartAndNothingElse) {
    TemporaryDirectory folder;
    std::vector<CatalogEntry> entries;
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 50u})
        entries.push_back({std::to_string(seed), 0, 0, 0, musiclike::fingerprint(piece(seed, seed == 50 ? 5 : 30)), {}});
    ASSERT_TRUE(FingerprintCatalog::open(folder / "catalog.sqlite", FingerprintCatalog::Access::kReadWrite).value()->add(entries).ok());
    struct Case {
        std::vector<float> mAudio;
        const char* mExpected;  // nullptr: nothing; "50" (too short to tell): that or nothing
    };
    std::vector<Case> cases = {
        {piece(7, 30), nullptr},
        {piece(8, 30), nullptr},
        {concatenated(piece(50, 5), piece(2, 30)), "50"},
        {concatenated(piece(51, 4), piece(1, 30)), nullptr},
        {concatenated(piece(2, 3), excerpt(piece(1, 30), 10)), nullptr},
    };
    for (const auto& entry : entries)  // from anywhere in the first 10 s, at -6 dB, after silence
        for (double start : {0.0, 1.3, 4.06, 9.9})
            if (entry.mPath != "50")
                cases.push_back({concatenated(musiclike::silence(0.7), excerpt(piece(std::stoi(entry.mPath), 30), start, -6)),
                                 entry.mPath.c_str()});
    for (const auto& c : cases) {
        Service service(folder / "catalog.sqlite");
        const double seconds = feed(service, c.mAudio);
        const auto result = service.result();
        const std::string name = "case " + std::to_string(&c - cases.data());
        ASSERT_TRUE(service.isFinished()) << name;
        EXPECT_LE(seconds, Service::kGiveUpSeconds + 1.5) << name;
        EXPECT_LE(result.size(), c.mExpected ? 1u : 0u) << name << " named " << result[0]->path();
        EXPECT_TRUE(result.empty() || (c.mExpected && result[0]->path() == c.mExpected)) << name;
        if (c.mExpected && std::string(c.mExpected) != "50") {
            EXPECT_EQ(result.size(), 1u) << name;
            EXPECT_LE(seconds, Service::kFirstCheckSeconds + 1.5) << name;
        }
    }
}

TEST(ZORSampleBasedTrackIdService, WithoutAUsableCatalogFinishesAtOnceEmpty) {
    TemporaryDirectory folder;
    TemporaryDirectory::write(folder / "damaged.sqlite", std::string(4096, 'x'));
    ScopedEnvironment dataHome("XDG_DATA_HOME", folder.path().c_str());
    int warnings = 0;
    const int sink = platform::Log::addSink([&](platform::Log::Level level, const std::string&) {
        warnings += level == platform::Log::Level::Warning;
    });
    const std::unique_ptr<ZORTrackIdService> services[] = {ZORTrackIdServiceFactory::createSampleBasedService(),  // none
                                                           std::make_unique<Service>(folder / "damaged.sqlite")};
    for (const auto& service : services) {
        EXPECT_TRUE(service->isFinished());
        EXPECT_TRUE(service->result().empty());
    }
    platform::Log::removeSink(sink);
    EXPECT_EQ(warnings, 1);
}

}  // namespace
