#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frameworks/CoreAudioTypes.h"
#include "frameworks/identification/ZORTrackIdServiceFactory.h"

class TROVTrack;
class ZORExtAudioFile;

// Identifies the music of tracks of one recording: each request gets a
// sample-based identification service of its own, fed from the track's start
// (on into the following tracks if need be) until the service decides.
// Holds nothing between calls but the path, so calls may run on any thread.
class ZORTrackMetaDataManager {
public:
    // The service's matches, best first; empty when it found none.
    using MatchList = std::vector<std::shared_ptr<ZORTrackMatch>>;

    static std::shared_ptr<ZORTrackMetaDataManager> initWithFilePath(std::string path);
    explicit ZORTrackMetaDataManager(std::string path) : mFilePath(std::move(path)) {}

    const std::string& filePath() const { return mFilePath; }

    // Nothing (std::nullopt) when the service did not decide before the
    // recording ran out or could not be read.
    std::optional<MatchList> matchTrack(const TROVTrack& track) const;
    // In one pass over the recording: one entry per service that decided, so
    // positions need not match the tracks'. A failed read ends the pass.
    std::vector<MatchList> matchAllTracks(const std::vector<std::shared_ptr<TROVTrack>>& tracks) const;

    // Identifies what `path` holds from frame `start` on, reading at most
    // `frameLimit` frames (both at the recording's rate) when a limit is given.
    static std::optional<MatchList> matchRecording(const std::string& path, int64_t start,
                                                   std::optional<int64_t> frameLimit = std::nullopt);

    // Feeds `service` from `reader`'s position, in blocks of kFeedBytes of
    // the reader's client format, until the service is finished, a read fails
    // or delivers nothing (the end), or `frameLimit` client frames went in.
    // `buffers` holds one buffer of kFeedBytes. The last read's status.
    static int32_t feedService(ZORTrackIdService& service, ZORExtAudioFile& reader, AudioBufferList& buffers,
                               std::optional<int64_t> frameLimit = std::nullopt);

    static constexpr uint32_t kFeedBytes = 4096;

private:
    std::string mFilePath;
};
