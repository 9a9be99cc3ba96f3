#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frameworks/ZORAudioTrackInfo.h"

class TrackChangedEvent;

// Receives a TrackChangedEvent after every effective change of a track it listens to.
class TrackChangeListener {
public:
    virtual ~TrackChangeListener() = default;
    virtual void trackChanged(const std::shared_ptr<TrackChangedEvent>& event) = 0;
};

// One track of a recording: start and stop in sample frames, metadata and a
// little editing state, kept in a ZORAudioTrackInfo. Setters trim texts,
// change only what differs and then tell the listeners. A track belongs to
// one thread at a time; nothing is locked.
class TROVTrack : public std::enable_shared_from_this<TROVTrack> {
public:
    using Text = ZORAudioTrackInfo::Text;
    using ImageRef = ZORAudioTrackInfo::ImageRef;
    using IDTracks = std::vector<std::shared_ptr<void>>;

    struct Color {
        float red = 0, green = 0, blue = 0, alpha = 1;
        bool operator==(const Color&) const = default;
    };

    // A new active track info titled `name` (untrimmed); `num` is not stored.
    static std::shared_ptr<TROVTrack> initWithNum(uint32_t num, const std::string& name);
    static std::shared_ptr<TROVTrack> initWithTrackInfo(std::shared_ptr<ZORAudioTrackInfo> trackInfo);

    const std::shared_ptr<ZORAudioTrackInfo>& trackInfo() const { return mTrackInfo; }
    void setTrackInfo(std::shared_ptr<ZORAudioTrackInfo> trackInfo) { mTrackInfo = std::move(trackInfo); }

    const Text& trackName() const { return mTrackInfo->trackTitle(); }
    void setTrackName(const Text& name);
    const Text& artistName() const { return mTrackInfo->trackArtistName(); }
    void setArtistName(const Text& name);
    const Text& albumName() const { return mTrackInfo->albumTitle(); }
    void setAlbumName(const Text& name);
    const Text& albumArtistName() const { return mTrackInfo->albumArtistName(); }
    void setAlbumArtistName(const Text& name);
    const Text& composerName() const { return mTrackInfo->trackComposerName(); }
    void setComposerName(const Text& name);
    const Text& genre() const { return mTrackInfo->genre(); }
    void setGenre(const Text& genre);
    const Text& comments() const { return mTrackInfo->comments(); }
    void setComments(const Text& comments);
    const ImageRef& coverArt() const { return mTrackInfo->coverArt(); }
    void setCoverArt(const ImageRef& image);

    int32_t trackNumber() const { return mTrackInfo->trackNumber(); }
    void setTrackNumber(int32_t number);
    int32_t numberOfTracks() const { return mTrackInfo->numberOfTracks(); }
    void setNumberOfTracks(int32_t count);
    int32_t discNumber() const { return mTrackInfo->albumNumber(); }
    void setDiscNumber(int32_t number);
    int32_t numberOfDiscs() const { return mTrackInfo->numberOfAlbums(); }
    void setNumberOfDiscs(int32_t count);
    bool isCompilation() const { return mTrackInfo->isCompilation(); }
    void setCompilation(bool compilation);
    bool active() const { return mTrackInfo->isActive(); }
    void setActive(bool active);

    int64_t startTime() const { return mTrackInfo->trackBegin(); }
    void setStartTime(int64_t frame);
    int64_t stopTime() const { return mTrackInfo->trackEnd(); }
    void setStopTime(int64_t frame);
    int64_t duration() const { return mTrackInfo->duration(); }
    void setDuration(int64_t frames);

    // -1 when no year is stored.
    int32_t albumYear() const;
    void setAlbumYear(int32_t year);

    const std::optional<Color>& trackColor() const { return mTrackColor; }
    void setTrackColor(const std::optional<Color>& color);

    uint32_t trackNum() const { return mTrackNum; }
    void setTrackNum(uint32_t num);
    bool lastEditWasStartTime() const { return mLastEditWasStartTime; }

    const std::optional<IDTracks>& additionalIDTracks() const { return mAdditionalIDTracks; }
    void setAdditionalIDTracks(const std::optional<IDTracks>& tracks);
    void clearAdditionalIDTracks();
    void addIDTrack(const std::shared_ptr<void>& track);

    void addTrackChangeListener(const std::shared_ptr<TrackChangeListener>& listener);
    void removeTrackChangeListener(const std::shared_ptr<TrackChangeListener>& listener);
    void fireTrackChangedWithPropertyName(const std::string& propertyName, const std::any& oldValue);

    bool includesTimePoint(uint32_t frame) const;
    // +1 when `other`'s number is smaller than ours, otherwise -1 (never 0).
    int trackNumCompare(const TROVTrack& other) const;
    // Lengthens a track shorter than `minimum` frames inside a file of `fileLength` frames.
    void ensureMinimumDuration(uint32_t minimum, uint32_t fileLenghtInFrames);
    std::string description() const;
    // By-name setting of no value into a number or flag: logged, nothing changes.
    void unableToSetNilForKey(const std::string& key);

    // A track list as the log shows it: "(\n    name,\n    name\n)".
    static std::string describeTracks(const std::vector<std::shared_ptr<TROVTrack>>& tracks);

private:
    explicit TROVTrack(std::shared_ptr<ZORAudioTrackInfo> trackInfo) : mTrackInfo(std::move(trackInfo)) {}

    using TextGetter = const Text& (ZORAudioTrackInfo::*)() const;
    using TextSetter = void (ZORAudioTrackInfo::*)(Text);
    using NumberGetter = int32_t (ZORAudioTrackInfo::*)() const;
    using NumberSetter = void (ZORAudioTrackInfo::*)(int32_t);
    using FlagGetter = bool (ZORAudioTrackInfo::*)() const;
    using FlagSetter = void (ZORAudioTrackInfo::*)(bool);
    void changeText(const Text& value, TextGetter get, TextSetter set, const char* propertyName);
    void changeNumber(int32_t value, NumberGetter get, NumberSetter set, const char* propertyName);
    void changeFlag(bool value, FlagGetter get, FlagSetter set, const char* propertyName);

    std::shared_ptr<ZORAudioTrackInfo> mTrackInfo;
    std::optional<IDTracks> mAdditionalIDTracks;
    uint32_t mTrackNum = 0;
    std::optional<Color> mTrackColor;
    bool mLastEditWasStartTime = false;
    std::optional<std::vector<std::shared_ptr<TrackChangeListener>>> mTrackChangeListeners;
};
