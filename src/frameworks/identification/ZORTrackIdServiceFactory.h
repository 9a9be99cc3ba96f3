#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frameworks/CoreAudioTypes.h"
#include "frameworks/identification/TrackMetadata.h"

// The metadata of a match, as the agent reads it.
class ZORMusicMetaData {
public:
    explicit ZORMusicMetaData(TrackMetadata metadata) : mMetadata(std::move(metadata)) {}
    const std::string& albumTitle() const { return mMetadata.mAlbum; }
    const std::string& albumArtistName() const { return mMetadata.mAlbumArtist; }
    const std::string& trackTitle() const { return mMetadata.mTitle; }
    const std::string& trackArtistName() const { return mMetadata.mArtist; }
    const std::string& trackComposerName() const { return mMetadata.mComposer; }
    const std::string& genre() const { return mMetadata.mGenre; }
    const std::string& comments() const { return mMetadata.mComments; }
    std::string albumYear() const { return mMetadata.mYear > 0 ? std::to_string(mMetadata.mYear) : std::string(); }
    // The encoded picture (JPEG or PNG), empty when there is none.
    const std::vector<uint8_t>& coverArt() const { return mMetadata.mCoverArt; }
    int trackNumber() const { return mMetadata.mTrackNumber; }
    int numberOfTracks() const { return mMetadata.mTrackCount; }
    int albumNumber() const { return mMetadata.mDiscNumber; }
    int numberOfAlbums() const { return mMetadata.mDiscCount; }
    bool isCompilation() const { return mMetadata.mCompilation; }

private:
    TrackMetadata mMetadata;
};

class ZORTrackMatch {
public:
    ZORTrackMatch(std::shared_ptr<ZORMusicMetaData> metadata, std::string path, double bitErrorRate)
        : mMetadata(std::move(metadata)), mPath(std::move(path)), mBitErrorRate(bitErrorRate) {}
    std::shared_ptr<ZORMusicMetaData> musicMetaData() const { return mMetadata; }
    const std::string& path() const { return mPath; }  // the catalogued file
    double bitErrorRate() const { return mBitErrorRate; }

private:
    std::shared_ptr<ZORMusicMetaData> mMetadata;
    std::string mPath;
    double mBitErrorRate;
};

// Identifies music from its samples: fed in its recommended format, it
// declares itself finished once it can decide, with its matches (best
// first) or an empty result. It never asks for more than a bounded stretch
// of audio.
class ZORTrackIdService {
public:
    virtual ~ZORTrackIdService() = default;
    virtual const AudioStreamBasicDescription* recommendedInputFormat() const = 0;
    virtual void processFrames(const void* data, uint32_t numFrames) = 0;
    virtual bool isFinished() const = 0;
    // Read only once finished.
    virtual std::vector<std::shared_ptr<ZORTrackMatch>> result() const = 0;
};

class ZORTrackIdServiceFactory {
public:
    // A service on the user's catalog (FingerprintCatalog::defaultPath()).
    // Without a catalog it finishes at once with an empty result.
    static std::unique_ptr<ZORTrackIdService> createSampleBasedService();
};
