#pragma once

#include <cstdint>

// A silence found by the detector, in sample frames: [startTime, endTime).
class SilenceObject {
public:
    SilenceObject() = default;
    SilenceObject(int64_t startTime, int64_t endTime) : mStartTime(startTime), mEndTime(endTime) {}

    int64_t startTime() const { return mStartTime; }
    void setStartTime(int64_t startTime) { mStartTime = startTime; }
    int64_t endTime() const { return mEndTime; }
    void setEndTime(int64_t endTime) { mEndTime = endTime; }
    int64_t duration() const { return mEndTime - mStartTime; }

private:
    int64_t mStartTime = 0;
    int64_t mEndTime = 0;
};
