#include "tracks/ZORTrackMetaDataManager.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "frameworks/ZORAudioBufferList.h"
#include "frameworks/ZORExtAudioFile.h"
#include "tracks/TROVTrack.h"

namespace {

// The recording as the service wants it, and the buffer that carries it there.
struct Feed {
    std::shared_ptr<ZORExtAudioFile> mReader;
    ZORAudioBufferList::Owned mBuffers;
};

// Nothing when the recording cannot be read in `format`: audio in any other
// format would be fed to the service as if it were in this one.
std::unique_ptr<Feed> openFeed(const std::string& path, const AudioStreamBasicDescription& format) {
    auto feed = std::make_unique<Feed>();
    feed->mReader = ZORExtAudioFile::initForReading(path);
    if (feed->mReader->open() != 0 || feed->mReader->setClientStreamFormat(format) != 0) return nullptr;
    feed->mBuffers.reset(ZORAudioBufferList::allocateBuffers(1, format.mChannelsPerFrame,
                                                             ZORTrackMetaDataManager::kFeedBytes));
    return feed->mBuffers ? std::move(feed) : nullptr;
}

// A span of the recording in frames of the client format, which may run at
// another rate.
std::optional<int64_t> clientFrames(std::optional<int64_t> fileFrames, const ZORExtAudioFile& reader) {
    if (!fileFrames || reader.sampleRate() <= 0) return fileFrames;
    const double rate = reader.clientStreamFormat().mSampleRate / reader.sampleRate();
    return static_cast<int64_t>(std::floor(static_cast<double>(*fileFrames) * rate));
}

}  // namespace

std::shared_ptr<ZORTrackMetaDataManager> ZORTrackMetaDataManager::initWithFilePath(std::string path) {
    return std::make_shared<ZORTrackMetaDataManager>(std::move(path));
}

std::optional<ZORTrackMetaDataManager::MatchList> ZORTrackMetaDataManager::matchTrack(const TROVTrack& track) const {
    return matchRecording(mFilePath, track.startTime());
}

std::vector<ZORTrackMetaDataManager::MatchList> ZORTrackMetaDataManager::matchAllTracks(
    const std::vector<std::shared_ptr<TROVTrack>>& tracks) const {
    const AudioStreamBasicDescription format =
        *ZORTrackIdServiceFactory::createSampleBasedService()->recommendedInputFormat();
    const std::unique_ptr<Feed> feed = openFeed(mFilePath, format);
    bool readable = feed != nullptr;
    std::vector<MatchList> answers;
    for (const auto& track : tracks) {
        const std::unique_ptr<ZORTrackIdService> service = ZORTrackIdServiceFactory::createSampleBasedService();
        if (readable && !service->isFinished() && feed->mReader->seek(track->startTime()) == 0)
            readable = feedService(*service, *feed->mReader, *feed->mBuffers) == 0;
        if (service->isFinished()) answers.push_back(service->result());
    }
    return answers;
}

std::optional<ZORTrackMetaDataManager::MatchList> ZORTrackMetaDataManager::matchRecording(
    const std::string& path, int64_t start, std::optional<int64_t> frameLimit) {
    const std::unique_ptr<ZORTrackIdService> service = ZORTrackIdServiceFactory::createSampleBasedService();
    // A service that decided without audio costs no reading.
    if (!service->isFinished()) {
        const std::unique_ptr<Feed> feed = openFeed(path, *service->recommendedInputFormat());
        if (feed && feed->mReader->seek(start) == 0)
            feedService(*service, *feed->mReader, *feed->mBuffers, clientFrames(frameLimit, *feed->mReader));
    }
    if (!service->isFinished()) return std::nullopt;
    return service->result();
}

int32_t ZORTrackMetaDataManager::feedService(ZORTrackIdService& service, ZORExtAudioFile& reader,
                                             AudioBufferList& buffers, std::optional<int64_t> frameLimit) {
    const uint32_t bytesPerFrame = reader.clientStreamFormat().mBytesPerFrame;
    if (bytesPerFrame == 0 || bytesPerFrame > kFeedBytes) return kAudio_ParamError;
    int64_t remaining = frameLimit.value_or(std::numeric_limits<int64_t>::max());
    int32_t status = 0;
    while (!service.isFinished() && remaining > 0) {
        uint32_t frames = static_cast<uint32_t>(std::min<int64_t>(kFeedBytes / bytesPerFrame, remaining));
        buffers.mBuffers[0].mDataByteSize = kFeedBytes;  // a read leaves what it delivered
        status = reader.read(&buffers, frames);
        if (status != 0 || frames == 0) break;
        service.processFrames(buffers.mBuffers[0].mData, frames);
        remaining -= frames;
    }
    return status;
}
