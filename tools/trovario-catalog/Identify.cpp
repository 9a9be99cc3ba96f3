#include "Identify.h"

#include <cmath>
#include <cstdio>

#include "frameworks/ZORExtAudioFile.h"
#include "frameworks/identification/ZORSampleBasedTrackIdService.h"

namespace {

constexpr uint32_t kBlockBytes = 4096;

platform::Status readFailure(const ZORExtAudioFile& file) { return platform::Status::failure(file.lastErrorMessage()); }

}  // namespace

std::unique_ptr<ZORTrackIdService> createService(const std::string& catalogPath) {
    if (catalogPath == FingerprintCatalog::defaultPath()) return ZORTrackIdServiceFactory::createSampleBasedService();
    return std::make_unique<ZORSampleBasedTrackIdService>(catalogPath);
}

platform::Result<TrackMatches> identifyFile(ZORTrackIdService& service, const std::string& path, double startSeconds) {
    const AudioStreamBasicDescription* format = service.recommendedInputFormat();
    auto file = ZORExtAudioFile::initForReading(path);
    if (file->open() != 0 || file->setClientStreamFormat(*format) != 0) return readFailure(*file);
    if (file->seek(int64_t(std::llround(startSeconds * file->sampleRate()))) != 0) return readFailure(*file);
    const uint32_t framesPerBlock = kBlockBytes / format->mBytesPerFrame;
    std::vector<uint8_t> block(size_t(framesPerBlock) * format->mBytesPerFrame);
    double fedSeconds = 0;
    while (!service.isFinished()) {
        uint32_t frames = framesPerBlock;
        AudioBufferList list{1, {{format->mChannelsPerFrame, uint32_t(block.size()), block.data()}}};
        if (file->read(&list, frames) != 0) return readFailure(*file);
        if (frames == 0) {
            char seconds[32];
            snprintf(seconds, sizeof seconds, "%.1f", fedSeconds);
            return platform::Status::failure(path + " ends after " + seconds +
                                             " s of audio, before the identification service could decide");
        }
        service.processFrames(block.data(), frames);
        fedSeconds += frames / format->mSampleRate;
    }
    return service.result();
}
