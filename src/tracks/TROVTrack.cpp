#include "tracks/TROVTrack.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/Log.h"
#include "tracks/TrackChangedEvent.h"
#include "tracks/ZORStringAdditions.h"

namespace {

std::any boxed(const TROVTrack::Text& text) {
    return text ? std::any(*text) : std::any();
}

bool sameImage(const TROVTrack::ImageRef& a, const TROVTrack::ImageRef& b) {
    return a == b || (a && b && *a == *b);
}

// The integer value of a text as the system's string class reads it: leading
// blanks, a sign and digits; clamped to the 32-bit range; 0 without digits.
int32_t integerValue(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    return int32_t(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace

std::shared_ptr<TROVTrack> TROVTrack::initWithNum(uint32_t, const std::string& name) {
    auto info = std::make_shared<ZORAudioTrackInfo>();
    info->setTrackTitle(name);
    info->setIsActive(true);
    return initWithTrackInfo(std::move(info));
}

std::shared_ptr<TROVTrack> TROVTrack::initWithTrackInfo(std::shared_ptr<ZORAudioTrackInfo> trackInfo) {
    return std::shared_ptr<TROVTrack>(new TROVTrack(std::move(trackInfo)));
}

void TROVTrack::changeText(const Text& value, TextGetter get, TextSetter set, const char* propertyName) {
    Text trimmed = value;
    if (trimmed)
        trimmed = ZORStringAdditions::workaroundStringByTrimmingCharactersInSet(
            *trimmed, ZORStringAdditions::whitespaceAndNewlineCharacterSet());
    const Text& stored = (*mTrackInfo.*get)();
    if (stored && stored == trimmed) return;
    std::any old = boxed(stored);
    (*mTrackInfo.*set)(std::move(trimmed));
    fireTrackChangedWithPropertyName(propertyName, old);
}

void TROVTrack::changeNumber(int32_t value, NumberGetter get, NumberSetter set, const char* propertyName) {
    int32_t old = (*mTrackInfo.*get)();
    if (old == value) return;
    (*mTrackInfo.*set)(value);
    fireTrackChangedWithPropertyName(propertyName, old);
}

void TROVTrack::changeFlag(bool value, FlagGetter get, FlagSetter set, const char* propertyName) {
    bool old = (*mTrackInfo.*get)();
    if (old == value) return;
    (*mTrackInfo.*set)(value);
    fireTrackChangedWithPropertyName(propertyName, old);
}

void TROVTrack::setTrackName(const Text& name) {
    changeText(name, &ZORAudioTrackInfo::trackTitle, &ZORAudioTrackInfo::setTrackTitle, "trackName");
}

void TROVTrack::setArtistName(const Text& name) {
    changeText(name, &ZORAudioTrackInfo::trackArtistName, &ZORAudioTrackInfo::setTrackArtistName, "artistName");
}

void TROVTrack::setAlbumName(const Text& name) {
    changeText(name, &ZORAudioTrackInfo::albumTitle, &ZORAudioTrackInfo::setAlbumTitle, "albumName");
}

void TROVTrack::setAlbumArtistName(const Text& name) {
    changeText(name, &ZORAudioTrackInfo::albumArtistName, &ZORAudioTrackInfo::setAlbumArtistName,
               "albumArtistName");
}

void TROVTrack::setComposerName(const Text& name) {
    changeText(name, &ZORAudioTrackInfo::trackComposerName, &ZORAudioTrackInfo::setTrackComposerName,
               "composerName");
}

void TROVTrack::setGenre(const Text& genre) {
    changeText(genre, &ZORAudioTrackInfo::genre, &ZORAudioTrackInfo::setGenre, "genre");
}

void TROVTrack::setComments(const Text& comments) {
    changeText(comments, &ZORAudioTrackInfo::comments, &ZORAudioTrackInfo::setComments, "comments");
}

void TROVTrack::setCoverArt(const ImageRef& image) {
    const ImageRef& stored = mTrackInfo->coverArt();
    if (stored && sameImage(stored, image)) return;
    std::any old = stored ? std::any(stored) : std::any();
    mTrackInfo->setCoverArt(image);
    fireTrackChangedWithPropertyName("coverArt", old);
}

void TROVTrack::setTrackNumber(int32_t number) {
    changeNumber(number, &ZORAudioTrackInfo::trackNumber, &ZORAudioTrackInfo::setTrackNumber, "trackNumber");
}

void TROVTrack::setNumberOfTracks(int32_t count) {
    changeNumber(count, &ZORAudioTrackInfo::numberOfTracks, &ZORAudioTrackInfo::setNumberOfTracks, "numberOfTracks");
}

void TROVTrack::setDiscNumber(int32_t number) {
    changeNumber(number, &ZORAudioTrackInfo::albumNumber, &ZORAudioTrackInfo::setAlbumNumber, "discNumber");
}

void TROVTrack::setNumberOfDiscs(int32_t count) {
    changeNumber(count, &ZORAudioTrackInfo::numberOfAlbums, &ZORAudioTrackInfo::setNumberOfAlbums, "numberOfDiscs");
}

void TROVTrack::setCompilation(bool compilation) {
    changeFlag(compilation, &ZORAudioTrackInfo::isCompilation, &ZORAudioTrackInfo::setIsCompilation, "compilation");
}

void TROVTrack::setActive(bool active) {
    changeFlag(active, &ZORAudioTrackInfo::isActive, &ZORAudioTrackInfo::setIsActive, "active");
}

void TROVTrack::setStartTime(int64_t frame) {
    int64_t old = mTrackInfo->trackBegin();
    if (old == frame) return;
    mTrackInfo->setTrackBegin(frame);
    mLastEditWasStartTime = true;
    fireTrackChangedWithPropertyName("startTime", uint32_t(old));
}

void TROVTrack::setStopTime(int64_t frame) {
    int64_t old = mTrackInfo->trackEnd();
    if (old == frame) return;
    mTrackInfo->setTrackEnd(frame);
    mLastEditWasStartTime = false;
    fireTrackChangedWithPropertyName("stopTime", uint32_t(old));
}

void TROVTrack::setDuration(int64_t frames) {
    int64_t old = mTrackInfo->trackEnd();
    int64_t stop = mTrackInfo->trackBegin() + frames;
    if (old == stop) return;
    mTrackInfo->setTrackEnd(stop);
    fireTrackChangedWithPropertyName("stopTime", uint32_t(old));
}

int32_t TROVTrack::albumYear() const {
    const Text& year = mTrackInfo->albumYear();
    return year && !year->empty() ? integerValue(*year) : -1;
}

void TROVTrack::setAlbumYear(int32_t year) {
    mTrackInfo->setAlbumYear(std::to_string(year));
}

void TROVTrack::setTrackColor(const std::optional<Color>& color) {
    if (mTrackColor && mTrackColor == color) return;
    std::any old = mTrackColor ? std::any(*mTrackColor) : std::any();
    mTrackColor = color;
    fireTrackChangedWithPropertyName("trackColor", old);
}

void TROVTrack::setTrackNum(uint32_t num) {
    mTrackNum = num;
}

void TROVTrack::setAdditionalIDTracks(const std::optional<IDTracks>& tracks) {
    if (tracks == mAdditionalIDTracks) return;
    mAdditionalIDTracks = tracks;
    fireTrackChangedWithPropertyName("additionalIDTracks", std::any());
}

void TROVTrack::clearAdditionalIDTracks() {
    mAdditionalIDTracks.reset();
    fireTrackChangedWithPropertyName("additionalIDTracks", std::any());
}

void TROVTrack::addIDTrack(const std::shared_ptr<void>& track) {
    if (mAdditionalIDTracks &&
        std::find(mAdditionalIDTracks->begin(), mAdditionalIDTracks->end(), track) != mAdditionalIDTracks->end())
        return;
    if (!mAdditionalIDTracks) mAdditionalIDTracks.emplace();
    mAdditionalIDTracks->push_back(track);
    fireTrackChangedWithPropertyName("additionalIDTracks", std::any());
}

void TROVTrack::addTrackChangeListener(const std::shared_ptr<TrackChangeListener>& listener) {
    if (!mTrackChangeListeners) mTrackChangeListeners.emplace().reserve(3);
    auto& listeners = *mTrackChangeListeners;
    if (std::find(listeners.begin(), listeners.end(), listener) == listeners.end()) listeners.push_back(listener);
}

void TROVTrack::removeTrackChangeListener(const std::shared_ptr<TrackChangeListener>& listener) {
    if (!mTrackChangeListeners) return;
    auto& listeners = *mTrackChangeListeners;
    listeners.erase(std::remove(listeners.begin(), listeners.end(), listener), listeners.end());
}

void TROVTrack::fireTrackChangedWithPropertyName(const std::string& propertyName, const std::any& oldValue) {
    if (!mTrackChangeListeners) return;
    auto event = std::make_shared<TrackChangedEvent>(shared_from_this(), propertyName, oldValue);
    // Listeners added or removed by a listener take effect from the next change.
    const auto listeners = *mTrackChangeListeners;
    for (const auto& listener : listeners) listener->trackChanged(event);
}

bool TROVTrack::includesTimePoint(uint32_t frame) const {
    return startTime() <= int64_t(frame) && int64_t(frame) <= stopTime();
}

int TROVTrack::trackNumCompare(const TROVTrack& other) const {
    return other.mTrackNum < mTrackNum ? 1 : -1;
}

void TROVTrack::ensureMinimumDuration(uint32_t minimum, uint32_t fileLenghtInFrames) {
    if (minimum >= fileLenghtInFrames || duration() >= int64_t(minimum)) return;
    if (mLastEditWasStartTime) {
        if (stopTime() >= int64_t(minimum)) {
            setStartTime(stopTime() - minimum);
        } else {
            setStartTime(0);
            setStopTime(minimum);
        }
        return;
    }
    uint32_t end = minimum + uint32_t(startTime());
    if (fileLenghtInFrames > end) {
        setStopTime(end);
    } else {
        setStartTime(fileLenghtInFrames - minimum);
        setStopTime(fileLenghtInFrames);
    }
}

std::string TROVTrack::description() const {
    return trackName().value_or("(null)");
}

void TROVTrack::unableToSetNilForKey(const std::string& key) {
    platform::Log::info("unableToSetNilForKey: %s", key.c_str());
}

std::string TROVTrack::describeTracks(const std::vector<std::shared_ptr<TROVTrack>>& tracks) {
    std::string text = "(";
    for (size_t i = 0; i < tracks.size(); ++i) text += (i ? ",\n    " : "\n    ") + tracks[i]->description();
    return text + "\n)";
}
