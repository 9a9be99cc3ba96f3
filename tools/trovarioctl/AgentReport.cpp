#include "AgentReport.h"

#include "agent/TROVDMessages.h"

#include <algorithm>

namespace {

using platform::PropertyList;

std::optional<int32_t> integerOf(const PropertyList& values, const char* key) {
    std::optional<PropertyList> value = values.get(key);
    if (!value || value->type() != PropertyList::Type::Integer) return std::nullopt;
    const int64_t number = value->asInteger();
    if (number < INT32_MIN || number > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(number);
}

std::optional<double> numberOf(const PropertyList& values, const char* key) {
    std::optional<PropertyList> value = values.get(key);
    if (!value || !value->isNumber()) return std::nullopt;
    return value->asReal();
}

bool flagOf(const PropertyList& values, const char* key) {
    std::optional<PropertyList> value = values.get(key);
    return value && value->type() == PropertyList::Type::Boolean && value->asBool();
}

std::string textOf(const PropertyList& values, const char* key) {
    std::optional<PropertyList> value = values.get(key);
    return value && value->type() == PropertyList::Type::String ? value->asString() : "";
}

std::vector<Delivery> deliveriesOf(const PropertyList& values) {
    std::vector<Delivery> deliveries;
    std::optional<PropertyList> list = values.get(kTROVDDeliveriesKey);
    if (!list || list->type() != PropertyList::Type::Array) return deliveries;
    for (size_t i = 0; i < list->size(); ++i) {
        const PropertyList entry = list->at(i);
        if (entry.type() != PropertyList::Type::Dictionary) continue;
        deliveries.push_back({.mTrack = integerOf(entry, kTROVDDeliveryTrackKey).value_or(static_cast<int32_t>(i)),
                              .mTitle = textOf(entry, kTROVDDeliveryTitleKey),
                              .mDelivered = flagOf(entry, kTROVDDeliveryDoneKey),
                              .mWhere = textOf(entry, kTROVDDeliveryWhereKey),
                              .mProblem = textOf(entry, kTROVDDeliveryProblemKey)});
    }
    return deliveries;
}

}  // namespace

AgentReport AgentReport::fromReply(const PropertyList& reply) {
    return {.mCapture = integerOf(reply, kTROVDCaptureStateKey),
            .mCaptureError = textOf(reply, kTROVDCaptureErrorKey),
            .mTimeLimit = numberOf(reply, kTROVDTimeLimitKey),
            .mSilenceThreshold = numberOf(reply, kTROVDSilenceThresholdKey),
            .mLengthOfSilence = numberOf(reply, kTROVDLengthOfSilenceKey),
            .mMinTrackDuration = numberOf(reply, kTROVDMinTrackDurationKey),
            .mRun = integerOf(reply, kTROVDRunKey).value_or(0),
            .mRunActive = flagOf(reply, kTROVDRunActiveKey),
            .mRunSource = textOf(reply, kTROVDRunSourceKey),
            .mTracksFound = integerOf(reply, kTROVDTracksFoundKey).value_or(-1),
            .mRunError = textOf(reply, kTROVDRunErrorKey),
            .mDeliveries = deliveriesOf(reply)};
}

size_t AgentReport::deliveredCount() const {
    return static_cast<size_t>(std::ranges::count_if(mDeliveries, &Delivery::mDelivered));
}

size_t AgentReport::undeliveredCount() const {
    const size_t handled = std::max(mDeliveries.size(), static_cast<size_t>(std::max(mTracksFound, 0)));
    return handled - deliveredCount();
}

bool AgentReport::runFailed() const { return !mRunError.empty() || undeliveredCount() > 0; }

Telemetry Telemetry::fromReply(const PropertyList& reply) {
    const std::optional<double> startTime = numberOf(reply, kTROVDStartTimeKey);
    return {.mState = integerOf(reply, kTROVDStateKey).value_or(0),
            .mStartTime = static_cast<float>(startTime.value_or(0)),
            .mCurrentTrack = integerOf(reply, kTROVDCurrentTrackKey),
            .mTotalTracks = integerOf(reply, kTROVDTotalTracksKey)};
}
