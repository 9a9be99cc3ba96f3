#include <gtest/gtest.h>

#include "MusicLikePieces.h"
#include "frameworks/identification/ZORSampleBasedTrackIdService.h"
#include "platform/Log.h"

namespace {

using musiclike::concatenated;
using musiclike::excerpt;
using musiclike::piece;
using musiclike::silence;

// Feeds the audio in its recommended format, in blocks, until the service is
// finished; the seconds it took.
double feed(ZORTrackIdService& service, const std::vector<float>& stereo) {
    const auto* format = service.recommendedInputFormat();
    EXPECT_EQ(format->mSampleRate, Fingerprinter::kSampleRate);
    EXPECT_EQ(format->mBytesPerFrame, 2u);
    const auto samples = musiclike::fingerprinterFormat(stereo);
    size_t fed = 0;
    for (const size_t kBlock = 4096; fed < samples.size() && !service.isFinished(); fed += kBlock)
        service.processFrames(samples.data() + fed, uint32_t(std::min(kBlock, samples.size() - fed)));
    return double(fed) / Fingerprinter::kSampleRate;
}

// Warnings logged while it lives.
class WarningCount {
public:
    WarningCount()
        : mToken(platform::Log::addSink([this](platform::Log::Level level, const std::string&) {
              mCount += level == platform::Log::Level::Warning;
          })) {}
    ~WarningCount() { platform::Log::removeSink(mToken); }
    int count() const { return mCount; }

private:
    int mCount = 0;
    int mToken;
};

TEST(ZORSampleBasedTrackIdService, NamesCatalogedMusicSoonAndNothingElse) {
    TemporaryDirectory folder;
    const std::string path = folder / "catalog.sqlite";
    {
        auto catalog = FingerprintCatalog::open(path, FingerprintCatalog::Access::kReadWrite);
        ASSERT_TRUE(catalog.ok()) << catalog.message();
        for (uint32_t seed : {1u, 2u, 3u, 50u}) {
            CatalogEntry entry;
            entry.mPath = std::to_string(seed);
            entry.mFingerprint = musiclike::fingerprint(piece(seed, seed == 50 ? 5 : 40));
            ASSERT_TRUE((*catalog)->add(entry).ok());
        }
    }
    const struct {
        const char* mName;
        std::vector<float> mAudio;
        std::vector<std::string> mAllowed;  // what may be named; empty: nothing
    } cases[] = {
        {"piece 1 after silence", concatenated(silence(1), excerpt(piece(1, 40), 3.3, -6)), {"1"}},
        {"piece 2 from its start", piece(2, 40), {"2"}},
        {"piece 3 from 9.7 s", excerpt(piece(3, 40), 9.7), {"3"}},
        {"not catalogued", piece(7, 40), {}},
        {"short catalogued piece, then piece 2", concatenated(piece(50, 5), piece(2, 40)), {"50"}},
        {"short unknown piece, then piece 1", concatenated(piece(51, 4), piece(1, 40)), {}},
        {"a mix of pieces 1 and 2", concatenated(piece(2, 3), excerpt(piece(1, 40), 10)), {}},
    };
    for (const auto& c : cases) {
        ZORSampleBasedTrackIdService service(path);
        const double seconds = feed(service, c.mAudio);
        ASSERT_TRUE(service.isFinished()) << c.mName;
        EXPECT_LE(seconds, ZORSampleBasedTrackIdService::kGiveUpSeconds + 1.5) << c.mName;
        const auto result = service.result();
        for (const auto& match : result)
            EXPECT_NE(std::find(c.mAllowed.begin(), c.mAllowed.end(), match->path()), c.mAllowed.end())
                << c.mName << " named " << match->path();
        if (c.mAllowed.size() == 1 && c.mAllowed[0] != "50") {
            ASSERT_EQ(result.size(), 1u) << c.mName;
            EXPECT_LE(seconds, ZORSampleBasedTrackIdService::kFirstCheckSeconds + 1.5) << c.mName;
            EXPECT_LT(result[0]->bitErrorRate(), 0.1) << c.mName;
        }
    }
}

TEST(ZORSampleBasedTrackIdService, WithoutAUsableCatalogFinishesAtOnceEmpty) {
    TemporaryDirectory folder;
    TemporaryDirectory::write(folder / "damaged.sqlite", std::string(4096, 'x'));
    const struct {
        std::string mDataHome;
        std::string mCatalog;  // empty: the default one
        int mWarnings;
    } cases[] = {
        {folder.path(), "", 0},
        {folder.path(), folder / "damaged.sqlite", 1},
    };
    for (const auto& c : cases) {
        ScopedEnvironment dataHome("XDG_DATA_HOME", c.mDataHome.c_str());
        WarningCount warnings;
        auto service = c.mCatalog.empty() ? ZORTrackIdServiceFactory::createSampleBasedService()
                                          : std::make_unique<ZORSampleBasedTrackIdService>(c.mCatalog);
        EXPECT_TRUE(service->isFinished());
        EXPECT_TRUE(service->result().empty());
        EXPECT_EQ(warnings.count(), c.mWarnings) << c.mCatalog;
    }
}

}  // namespace
