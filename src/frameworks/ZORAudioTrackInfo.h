#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Times and metadata of one track of a recording. Texts may be absent
// (std::nullopt), which is not the same as empty. Times are sample frames;
// `duration` is always `trackEnd` minus `trackBegin`.
class ZORAudioTrackInfo {
public:
    // Cover art as the encoded image file (PNG or JPEG bytes).
    using Image = std::vector<uint8_t>;
    using ImageRef = std::shared_ptr<const Image>;
    using Text = std::optional<std::string>;

    const Text& trackTitle() const { return mTrackTitle; }
    void setTrackTitle(Text value) { mTrackTitle = std::move(value); }
    const Text& trackArtistName() const { return mTrackArtistName; }
    void setTrackArtistName(Text value) { mTrackArtistName = std::move(value); }
    const Text& albumTitle() const { return mAlbumTitle; }
    void setAlbumTitle(Text value) { mAlbumTitle = std::move(value); }
    const Text& albumArtistName() const { return mAlbumArtistName; }
    void setAlbumArtistName(Text value) { mAlbumArtistName = std::move(value); }
    const Text& trackComposerName() const { return mTrackComposerName; }
    void setTrackComposerName(Text value) { mTrackComposerName = std::move(value); }
    const Text& genre() const { return mGenre; }
    void setGenre(Text value) { mGenre = std::move(value); }
    const Text& comments() const { return mComments; }
    void setComments(Text value) { mComments = std::move(value); }
    const Text& albumYear() const { return mAlbumYear; }
    void setAlbumYear(Text value) { mAlbumYear = std::move(value); }

    const ImageRef& coverArt() const { return mCoverArt; }
    void setCoverArt(ImageRef value) { mCoverArt = std::move(value); }

    int32_t trackNumber() const { return mTrackNumber; }
    void setTrackNumber(int32_t value) { mTrackNumber = value; }
    int32_t numberOfTracks() const { return mNumberOfTracks; }
    void setNumberOfTracks(int32_t value) { mNumberOfTracks = value; }
    int32_t albumNumber() const { return mAlbumNumber; }
    void setAlbumNumber(int32_t value) { mAlbumNumber = value; }
    int32_t numberOfAlbums() const { return mNumberOfAlbums; }
    void setNumberOfAlbums(int32_t value) { mNumberOfAlbums = value; }

    bool isCompilation() const { return mIsCompilation; }
    void setIsCompilation(bool value) { mIsCompilation = value; }
    bool isActive() const { return mIsActive; }
    void setIsActive(bool value) { mIsActive = value; }

    int64_t trackBegin() const { return mTrackBegin; }
    void setTrackBegin(int64_t frame) { mTrackBegin = frame; }
    int64_t trackEnd() const { return mTrackEnd; }
    void setTrackEnd(int64_t frame) { mTrackEnd = frame; }
    int64_t duration() const { return mTrackEnd - mTrackBegin; }

private:
    Text mTrackTitle, mTrackArtistName, mAlbumTitle, mAlbumArtistName, mTrackComposerName, mGenre, mComments,
        mAlbumYear;
    ImageRef mCoverArt;
    int32_t mTrackNumber = 0;
    int32_t mNumberOfTracks = 0;
    int32_t mAlbumNumber = 0;
    int32_t mNumberOfAlbums = 0;
    bool mIsCompilation = false;
    bool mIsActive = false;
    int64_t mTrackBegin = 0;
    int64_t mTrackEnd = 0;
};
