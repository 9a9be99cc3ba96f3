#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/AudioConstants.h"

// Durations as text and back: a clock form for a count of units at a rate
// (sample frames at 44100 a second) with an optional fraction of a second, a
// clock form for whole seconds, and a worded form whose texts come from the
// agent's own bundle. The object form of a value is a number (any arithmetic
// type in a std::any) holding a count of units.
class ZORTimeFormatter {
public:
    int32_t unitsPerSecond() const { return mUnitsPerSecond; }
    // Values of 0 or less are ignored, so no instance can divide by zero.
    void setUnitsPerSecond(int32_t unitsPerSecond);
    // 0 no fraction, 1 tenths, 2 hundredths, anything else thousandths.
    int32_t displayPrecision() const { return mDisplayPrecision; }
    void setDisplayPrecision(int32_t precision) { mDisplayPrecision = precision; }

    std::optional<std::string> stringForObjectValue(const std::any& value) const;
    // No string when the object is not a number.
    std::optional<std::string> stringForObjectValue(const std::any& value, int32_t precision,
                                                    bool forceShowHours) const;
    std::string stringForUInt32Value(uint32_t value, int32_t precision, bool forceShowHours) const;
    // Reads "h:m:s", "m:s.fraction" or "h:m" into a count of units (stored as
    // uint32_t in `object`). On failure `object` is untouched and
    // `errorDescription`, when given, says "Unrecognized time format".
    bool getObjectValue(std::any& object, const std::string& string, std::string* errorDescription) const;

    // The clock text of `value` units at `unitsPerSecond` (0 or less counts as 1).
    static std::string stringForUInt32Value(uint32_t value, int32_t unitsPerSecond, int32_t precision,
                                            bool forceShowHours);
    // The clock text of whole seconds; `precision` is not used.
    static std::string numericStringForUInt32ValueInSeconds(uint32_t seconds, int32_t precision, bool forceShowHours);
    // "1 hours, 2 minutes, 5 seconds"; with precision -1 and at least an hour, without the seconds.
    static std::string humanizedStringForUInt32ValueInSeconds(uint32_t seconds, int32_t precision);

private:
    int32_t mUnitsPerSecond = platform::kCaptureSampleRate;
    int32_t mDisplayPrecision = 0;
};
