#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frameworks/identification/FingerprintCatalog.h"
#include "frameworks/identification/ZORTrackIdServiceFactory.h"

// Identifies what it is fed against a fingerprint catalog. It keeps the fed
// samples (leading silence dropped) and asks the catalog at checkpoints: the
// first once kFirstCheckSeconds of sound are in, then every
// kCheckIntervalSeconds. It finishes at the first confident match, or empty
// once kGiveUpSeconds of sound found none.
class ZORSampleBasedTrackIdService : public ZORTrackIdService {
public:
    // Enough for a confident match of catalogued music at any phase of
    // Chromaprint's frames, quieter or lossily encoded.
    static constexpr double kFirstCheckSeconds = 6;
    static constexpr double kCheckIntervalSeconds = 2;
    // What noisier recordings may need; unknown music costs this much.
    static constexpr double kGiveUpSeconds = 16;
    // Silence before the music is dropped, up to this much of it.
    static constexpr double kMaxLeadingSilenceSeconds = 4;

    // Without a catalog at `catalogPath` it is finished at once, empty.
    explicit ZORSampleBasedTrackIdService(const std::string& catalogPath);

    const AudioStreamBasicDescription* recommendedInputFormat() const override { return &mFormat; }
    void processFrames(const void* data, uint32_t numFrames) override;
    bool isFinished() const override { return mFinished; }
    std::vector<std::shared_ptr<ZORTrackMatch>> result() const override { return mResult; }

private:
    // Drops the silence before the first sound; the samples left.
    size_t skipLeadingSilence(const int16_t* samples, size_t count);
    void check();
    void finish(const std::vector<CatalogMatch>& matches);

    AudioStreamBasicDescription mFormat;
    std::unique_ptr<FingerprintCatalog> mCatalog;
    std::vector<int16_t> mSamples;
    size_t mSilentFrames = 0;
    size_t mNextCheck;
    bool mFinished = false;
    std::vector<std::shared_ptr<ZORTrackMatch>> mResult;
};
