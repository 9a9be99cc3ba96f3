#include "frameworks/identification/ZORSampleBasedTrackIdService.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/identification/Fingerprinter.h"
#include "platform/Log.h"

namespace {

constexpr size_t frames(double seconds) { return size_t(seconds * Fingerprinter::kSampleRate); }

// Samples at or under this (about -54 dBFS) count as silence.
constexpr int kSilenceLevel = 64;
// Where the fed audio may start relative to the catalogued file's start: a
// little earlier (a fade-in cut differently), never seconds before it, when
// the start would be other music.
constexpr double kEarliestOffsetSeconds = -1;
// Chromaprint's frames advance 1365 samples; the fed audio lies at any phase
// to the catalogued file's frames, and its items match best in phase. Each
// check tries three phases, a third of a step apart.
constexpr size_t kPhases[] = {0, 455, 910};

bool catalogExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

ZORSampleBasedTrackIdService::ZORSampleBasedTrackIdService(const std::string& catalogPath)
    : mFormat(ZORAudioStreamBasicDescription::linearPCM(Fingerprinter::kSampleRate, 1, 16,
                                                        kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked)),
      mNextCheck(frames(kFirstCheckSeconds)) {
    if (!catalogExists(catalogPath)) {
        platform::Log::debug("No identification catalog at %s; tracks stay unidentified", catalogPath.c_str());
        mFinished = true;
        return;
    }
    auto catalog = FingerprintCatalog::open(catalogPath, FingerprintCatalog::Access::kReadOnly);
    if (!catalog) {
        platform::Log::warning("Tracks stay unidentified: %s", catalog.message().c_str());
        mFinished = true;
        return;
    }
    mCatalog = std::move(catalog.value());
    mSamples.reserve(frames(kGiveUpSeconds));
}

void ZORSampleBasedTrackIdService::processFrames(const void* data, uint32_t numFrames) {
    if (mFinished || !data) return;
    const auto* samples = static_cast<const int16_t*>(data);
    size_t count = numFrames;
    if (mSamples.empty()) {
        const size_t skipped = skipLeadingSilence(samples, count);
        samples += skipped;
        count -= skipped;
    }
    while (count > 0 && !mFinished) {
        const size_t taken = std::min(count, mNextCheck - mSamples.size());
        mSamples.insert(mSamples.end(), samples, samples + taken);
        samples += taken;
        count -= taken;
        if (mSamples.size() == mNextCheck) check();
    }
}

size_t ZORSampleBasedTrackIdService::skipLeadingSilence(const int16_t* samples, size_t count) {
    const size_t allowed = frames(kMaxLeadingSilenceSeconds) - std::min(mSilentFrames, frames(kMaxLeadingSilenceSeconds));
    const size_t limit = std::min(count, allowed);
    const auto sound = std::find_if(samples, samples + limit, [](int16_t s) { return std::abs(int(s)) > kSilenceLevel; });
    const size_t skipped = size_t(sound - samples);
    mSilentFrames += skipped;
    return skipped;
}

void ZORSampleBasedTrackIdService::check() {
    for (size_t phase : kPhases) {
        const auto query = Fingerprinter::fingerprint(mSamples.data() + phase, mSamples.size() - phase);
        auto matches = mCatalog->identify(query);
        if (!matches) {
            platform::Log::warning("Tracks stay unidentified: %s", matches.message().c_str());
            return finish({});
        }
        const double phaseSeconds = double(phase) / Fingerprinter::kSampleRate;
        std::erase_if(*matches, [&](const CatalogMatch& m) { return m.mOffsetSeconds - phaseSeconds < kEarliestOffsetSeconds; });
        if (!matches->empty()) return finish(*matches);
    }
    if (mSamples.size() >= frames(kGiveUpSeconds)) return finish({});
    mNextCheck = std::min(mNextCheck + frames(kCheckIntervalSeconds), frames(kGiveUpSeconds));
}

void ZORSampleBasedTrackIdService::finish(const std::vector<CatalogMatch>& matches) {
    for (const auto& match : matches)
        mResult.push_back(std::make_shared<ZORTrackMatch>(std::make_shared<ZORMusicMetaData>(match.mMetadata), match.mPath,
                                                          match.mBitErrorRate));
    mFinished = true;
    mCatalog.reset();
    mSamples = {};
}
