#include "AutoCaptureClasses/CaptureTimeline.h"

#include <algorithm>

void CaptureTimeline::start(int64_t frame) {
    std::lock_guard guard(mLock);
    if (!mSpans.empty() && mSpans.back().mUntil == kOpen) return;
    if (!mSpans.empty()) frame = std::max(frame, mSpans.back().mUntil);
    mSpans.push_back({frame, kOpen});
}

void CaptureTimeline::end(int64_t frame) {
    std::lock_guard guard(mLock);
    if (mSpans.empty() || mSpans.back().mUntil != kOpen) return;
    mSpans.back().mUntil = std::max(frame, mSpans.back().mFrom);
}

std::optional<CaptureTimeline::Span> CaptureTimeline::spanAfter(int64_t frame) const {
    std::lock_guard guard(mLock);
    for (const Span& span : mSpans)
        if (span.mUntil > frame && span.mUntil > span.mFrom) return span;
    return std::nullopt;
}

std::optional<int64_t> CaptureTimeline::finalFrame() const {
    std::lock_guard guard(mLock);
    if (mSpans.empty() || mSpans.back().mUntil == kOpen) return std::nullopt;
    return mSpans.back().mUntil;
}

void CaptureTimeline::addGap(int64_t at, int64_t frames) {
    std::lock_guard guard(mLock);
    if (!mGaps.empty() && mGaps.back().mAt == at)
        mGaps.back().mFrames += frames;
    else
        mGaps.push_back({at, frames});
}

std::optional<CaptureTimeline::Gap> CaptureTimeline::gapAfter(int64_t frame) const {
    std::lock_guard guard(mLock);
    for (const Gap& gap : mGaps)
        if (gap.mAt >= frame) return gap;
    return std::nullopt;
}
