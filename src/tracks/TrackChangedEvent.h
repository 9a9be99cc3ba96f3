#pragma once

#include <any>
#include <cstdint>
#include <string>

#include "tracks/ZOREventObject.h"

// One effective change of a track's property. The old value is boxed as the
// property's type (std::string, int32_t, bool, uint32_t for start and stop
// times, ZORAudioTrackInfo::ImageRef, TROVTrack::Color) and is empty when the
// property had no value.
class TrackChangedEvent : public ZOREventObject {
public:
    TrackChangedEvent(std::shared_ptr<void> source, std::string propertyName, std::any oldValue)
        : ZOREventObject(std::move(source)), mPropertyName(std::move(propertyName)), mOldValue(std::move(oldValue)) {}

    int32_t trackGroupIndex() const { return mTrackGroupIndex; }
    void setTrackGroupIndex(int32_t index) { mTrackGroupIndex = index; }
    const std::string& propertyName() const { return mPropertyName; }
    const std::any& oldValue() const { return mOldValue; }

private:
    int32_t mTrackGroupIndex = 0;
    std::string mPropertyName;
    std::any mOldValue;
};
