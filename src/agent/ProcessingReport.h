#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TROVMessage;

// What the agent's current (or last) processing run and capture came to, for
// trovarioctl's report: written by the workers as they go, read on the main
// loop. Every operation locks.
class ProcessingReport {
public:
    struct Delivery {
        int32_t mTrack = 0;  // index from 0
        std::string mTitle;
        bool mDelivered = false;
        std::string mWhere;    // the delivered file, or where the track stays
        std::string mProblem;  // when not delivered
    };

    // A new run over `source`; its number (from 1).
    int32_t beginRun(const std::string& source);
    void setTracksFound(int32_t count);
    void addDelivery(Delivery delivery);
    void failRun(const std::string& why);
    void endRun();
    int32_t runNumber() const;

    void setCaptureState(int32_t state);
    // Why the last capture failed or was cut short; cleared by a new start.
    void setCaptureError(const std::string& why);
    void clearCaptureError();

    // The run's and the capture's keys, as the report reply carries them.
    void fill(TROVMessage& reply) const;

private:
    // The list a reply carries stays well inside a message.
    static constexpr size_t kMaxDeliveries = 200;

    mutable std::mutex mLock;
    int32_t mRun = 0;
    bool mRunActive = false;
    std::string mSource;
    int32_t mTracksFound = -1;
    std::vector<Delivery> mDeliveries;
    std::optional<std::string> mRunError;
    int32_t mCaptureState = 0;
    std::optional<std::string> mCaptureError;
};
