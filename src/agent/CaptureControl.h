#pragma once

#include "platform/MainLoop.h"
#include "platform/Result.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class AppController;
class AudioSegmentTree;
class MySystemCaptureRecorder;

// Starts and stops captures for the controller. Setting a recorder up takes
// a sound-server round trip and the first audio (up to seconds when the
// server is slow), and stopping it drains the last frames, so each capture
// runs its recorder on a thread of its own; the main loop only asks, and
// hears back through the controller. At most one capture, one recorder and
// one set of timers exist at a time.
class CaptureControl {
public:
    // The limit of a capture: `maxRecordingMins` minutes when above 0, else
    // `count` (0 meaning 2) units of `unitCode` (0 and 2 hours, 1 minutes,
    // 3 days, others minutes), multiplied in 32-bit float. A
    // limit of 0 or below (a negative preference) gives the default two hours.
    struct TimeLimit {
        int64_t mCount;
        double mMultiplier;
        float mSeconds;
        bool mDefaulted = false;  // the given limit was no limit
    };

    explicit CaptureControl(AppController& controller);
    // Ends a running capture, keeping what it recorded.
    ~CaptureControl();
    CaptureControl(const CaptureControl&) = delete;
    CaptureControl& operator=(const CaptureControl&) = delete;

    // Asks for a new capture into the scratch recording; refused while one
    // is under way. Main loop only, as are the others.
    platform::Status startSystemCapture(float silenceThreshold, float lengthOfSilence, const TimeLimit& limit);
    // Asks the running capture to end; `whenStopped` runs on the main loop
    // once the recording is complete and closed, with what became of it.
    platform::Status stopSystemCapture(std::function<void(const platform::Status& recording, int64_t frames)> whenStopped);
    bool isCapturing() const { return mThread.joinable() && !mFinished; }
    // The running (or last) capture's limit.
    double timeLimitSeconds() const { return mTimeLimitSeconds; }
    std::shared_ptr<AudioSegmentTree> audioSegmentTree() const { return mAudioSegmentTree; }

    static TimeLimit captureTimeLimit(int32_t maxRecordingMins, int64_t count, int64_t unitCode);

private:
    struct Settings {
        float mSilenceThreshold;
        float mLengthOfSilence;
    };
    void run(Settings settings, std::weak_ptr<bool> alive);
    void waitForStopRequest();
    void recordingBegan(const std::shared_ptr<AudioSegmentTree>& tree);
    void startFailed();
    void recordingEnded(const platform::Status& recording, int64_t frames);
    void scheduleTimers();
    void invalidateTimers();
    void joinFinishedThread();

    AppController& mController;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);  // posted work checks it
    const std::weak_ptr<bool> mAliveWeak = mAlive;
    std::thread mThread;
    bool mFinished = true;  // main loop: the thread has posted its last word
    std::mutex mLock;
    std::condition_variable mStopWake;
    bool mStopRequested = false;
    std::function<void(const platform::Status&, int64_t)> mWhenStopped;
    double mTimeLimitSeconds = 0;
    std::shared_ptr<AudioSegmentTree> mAudioSegmentTree;
    platform::MainLoop::SourceId captureTimer = 0;
    platform::MainLoop::SourceId captureKillTimer = 0;
    platform::MainLoop::SourceId captureIconBlinkTimer = 0;
};
