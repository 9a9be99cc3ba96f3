#pragma once

#include "platform/PropertyList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One track of a processing run: whether it reached the library, and where
// it went (or stays).
struct Delivery {
    int32_t mTrack = 0;  // from 0
    std::string mTitle;
    bool mDelivered = false;
    std::string mWhere;
    std::string mProblem;
};

// The agent's 'Rprt' reply. A value the reply lacks stays empty, so an
// agent that does not report yet shows what it does report and no more.
struct AgentReport {
    std::optional<int32_t> mCapture;  // kCapture...
    std::string mCaptureError;
    std::optional<double> mTimeLimit;
    std::optional<double> mSilenceThreshold;
    std::optional<double> mLengthOfSilence;
    std::optional<double> mMinTrackDuration;
    int32_t mRun = 0;  // 0: no run yet
    bool mRunActive = false;
    std::string mRunSource;
    int32_t mTracksFound = -1;  // -1 until the run has defined its tracks
    std::string mRunError;
    std::vector<Delivery> mDeliveries;

    static AgentReport fromReply(const platform::PropertyList& reply);

    size_t deliveredCount() const;
    // Tracks found or handled that did not reach the library (yet).
    size_t undeliveredCount() const;
    // The run ended with an error, or a track did not reach the library;
    // meaningful once the run has ended.
    bool runFailed() const;
};

// The agent's 'Telm' reply.
struct Telemetry {
    int32_t mState = 0;
    float mStartTime = 0;  // seconds since the current or last capture started
    std::optional<int32_t> mCurrentTrack;  // from 0, while processing
    std::optional<int32_t> mTotalTracks;

    static Telemetry fromReply(const platform::PropertyList& reply);
};
