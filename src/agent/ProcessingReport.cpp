#include "agent/ProcessingReport.h"

#include "agent/TROVDMessages.h"
#include "messaging/TROVMessage.h"
#include "platform/PropertyList.h"

using platform::PropertyList;

int32_t ProcessingReport::beginRun(const std::string& source) {
    std::lock_guard lock(mLock);
    mRunActive = true;
    mSource = source;
    mTracksFound = -1;
    mDeliveries.clear();
    mRunError.reset();
    return ++mRun;
}

void ProcessingReport::setTracksFound(int32_t count) {
    std::lock_guard lock(mLock);
    mTracksFound = count;
}

void ProcessingReport::addDelivery(Delivery delivery) {
    std::lock_guard lock(mLock);
    if (mDeliveries.size() < kMaxDeliveries) mDeliveries.push_back(std::move(delivery));
}

void ProcessingReport::failRun(const std::string& why) {
    std::lock_guard lock(mLock);
    mRunError = why;
}

void ProcessingReport::endRun() {
    std::lock_guard lock(mLock);
    mRunActive = false;
}

int32_t ProcessingReport::runNumber() const {
    std::lock_guard lock(mLock);
    return mRun;
}

void ProcessingReport::setCaptureState(int32_t state) {
    std::lock_guard lock(mLock);
    mCaptureState = state;
}

void ProcessingReport::setCaptureError(const std::string& why) {
    std::lock_guard lock(mLock);
    mCaptureError = why;
}

void ProcessingReport::clearCaptureError() {
    std::lock_guard lock(mLock);
    mCaptureError.reset();
}

void ProcessingReport::fill(TROVMessage& reply) const {
    std::lock_guard lock(mLock);
    reply.setValueWithSInt32(kTROVDCaptureStateKey, mCaptureState);
    if (mCaptureError) reply.setValueWithNSString(kTROVDCaptureErrorKey, *mCaptureError);
    reply.setValueWithSInt32(kTROVDRunKey, mRun);
    reply.setValueWithBoolean(kTROVDRunActiveKey, mRunActive);
    reply.setValueWithNSString(kTROVDRunSourceKey, mSource);
    reply.setValueWithSInt32(kTROVDTracksFoundKey, mTracksFound);
    if (mRunError) reply.setValueWithNSString(kTROVDRunErrorKey, *mRunError);
    PropertyList deliveries = PropertyList::array();
    for (const Delivery& delivery : mDeliveries) {
        PropertyList entry = PropertyList::dictionary();
        entry.set(kTROVDDeliveryTrackKey, PropertyList::integer(delivery.mTrack));
        entry.set(kTROVDDeliveryTitleKey, PropertyList::string(delivery.mTitle));
        entry.set(kTROVDDeliveryDoneKey, PropertyList::boolean(delivery.mDelivered));
        entry.set(kTROVDDeliveryWhereKey, PropertyList::string(delivery.mWhere));
        if (!delivery.mDelivered) entry.set(kTROVDDeliveryProblemKey, PropertyList::string(delivery.mProblem));
        deliveries.append(std::move(entry));
    }
    reply.setValueWithCFType(kTROVDDeliveriesKey, deliveries);
}
