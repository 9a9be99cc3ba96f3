#include "agent/CaptureControl.h"

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "agent/AppController.h"
#include "agent/TROVDMessages.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Paths.h"

using platform::Log;
using platform::MainLoop;
using platform::Status;

namespace {

constexpr double kMenuTimerInterval = 1.0;
constexpr double kBlinkInterval = 0.75;

double unitMultiplier(int64_t unitCode) {
    switch (unitCode) {
        case 0: return 3600.0;
        case 2: return 3600.0;
        case 3: return 86400.0;
        default: return 60.0;
    }
}

// Runs `work` on the main loop unless the capture control is gone by then.
void post(const std::weak_ptr<bool>& alive, std::function<void()> work) {
    MainLoop::shared().performOnMain([alive, work = std::move(work)] {
        if (alive.lock()) work();
    });
}

}  // namespace

CaptureControl::CaptureControl(AppController& controller) : mController(controller) {}

CaptureControl::~CaptureControl() {
    invalidateTimers();
    mAlive.reset();
    {
        std::lock_guard lock(mLock);
        mStopRequested = true;
    }
    mStopWake.notify_all();
    if (mThread.joinable()) mThread.join();
}

CaptureControl::TimeLimit CaptureControl::captureTimeLimit(int32_t maxRecordingMins, int64_t count, int64_t unitCode) {
    if (maxRecordingMins > 0) return {maxRecordingMins, 60.0, static_cast<float>(maxRecordingMins) * 60.0f};
    if (count == 0) count = 2;
    const double multiplier = unitMultiplier(unitCode);
    const float seconds = static_cast<float>(count) * static_cast<float>(multiplier);
    if (seconds > 0) return {count, multiplier, seconds};
    return {2, 3600.0, 7200.0f, true};
}

Status CaptureControl::startSystemCapture(float silenceThreshold, float lengthOfSilence, const TimeLimit& limit) {
    if (isCapturing()) return Status::failure("a capture is already running; nothing changed");
    joinFinishedThread();
    if (limit.mDefaulted) Log::warning("the capture time limit in the preferences is no limit; using two hours");
    Log::info("recording duration: %d multiplier: %f time: %f\n", static_cast<int>(limit.mCount), limit.mMultiplier,
              limit.mSeconds);
    mTimeLimitSeconds = limit.mSeconds;
    mStopRequested = false;
    mWhenStopped = nullptr;
    mFinished = false;
    mController.report().clearCaptureError();
    mController.report().setCaptureState(kCaptureStarting);
    mThread = std::thread(&CaptureControl::run, this, Settings{silenceThreshold, lengthOfSilence}, mAliveWeak);
    return Status::success();
}

Status CaptureControl::stopSystemCapture(std::function<void(const Status&, int64_t)> whenStopped) {
    if (!isCapturing()) return Status::failure("no capture is running");
    {
        std::lock_guard lock(mLock);
        if (mStopRequested && mWhenStopped) return Status::failure("the capture is already stopping");
        mStopRequested = true;
        mWhenStopped = std::move(whenStopped);
    }
    mStopWake.notify_all();
    invalidateTimers();
    mController.report().setCaptureState(kCaptureStopping);
    return Status::success();
}

// The capture's thread: the recorder's one controlling thread.
void CaptureControl::run(Settings settings, std::weak_ptr<bool> alive) {
    std::shared_ptr<MySystemCaptureRecorder> recorder = MySystemCaptureRecorder::init();
    if (!recorder) {
        post(alive, [this] { startFailed(); });
        return;
    }
    recorder->setCaptureFailureHandler([alive, this](const std::string& why) {
        post(alive, [this, why] {
            Log::warning("the capture ended on its own: %s; keeping what was recorded", why.c_str());
            (void)mController.stopSystemCapture();
        });
    });
    recorder->setAudioFilePath(platform::scratchRecordingPath());
    recorder->setSilenceThreshold(settings.mSilenceThreshold);
    recorder->setLengthOfSilence(settings.mLengthOfSilence);
    recorder->record();
    post(alive, [this, tree = recorder->audioSegmentTree()] { recordingBegan(tree); });
    waitForStopRequest();
    recorder->stop();
    recorder->mergeSilentTracks();
    const Status recording = recorder->recordingStatus();
    const int64_t frames = recorder->numberOfFramesRecorded();
    recorder.reset();
    post(alive, [this, recording, frames] { recordingEnded(recording, frames); });
}

void CaptureControl::waitForStopRequest() {
    std::unique_lock lock(mLock);
    mStopWake.wait(lock, [this] { return mStopRequested; });
}

void CaptureControl::recordingBegan(const std::shared_ptr<AudioSegmentTree>& tree) {
    mAudioSegmentTree = tree;
    mController.setStartIntervalForRecording(platform::absoluteTime());
    {
        std::lock_guard lock(mLock);
        if (mStopRequested) return;  // stopped while starting: no timers for it
    }
    mController.report().setCaptureState(kCaptureRecording);
    scheduleTimers();
}

void CaptureControl::startFailed() {
    mFinished = true;
    const std::string why = "the capture device could not be opened, so nothing is recorded (is the sound server "
                            "running and the capture device installed? `trovarioctl install-capture-device`; the "
                            "agent's log says more)";
    Log::error("startSystemCapture: %s", why.c_str());
    mController.report().setCaptureError(why);
    mController.report().setCaptureState(kCaptureIdle);
    std::function<void(const Status&, int64_t)> whenStopped;
    {
        std::lock_guard lock(mLock);
        whenStopped = std::move(mWhenStopped);
    }
    mController.captureStartFailed();
    if (whenStopped) whenStopped(Status::failure(why), 0);
}

void CaptureControl::recordingEnded(const Status& recording, int64_t frames) {
    mFinished = true;
    mController.report().setCaptureState(kCaptureIdle);
    if (!recording) mController.report().setCaptureError(recording.message());
    std::function<void(const Status&, int64_t)> whenStopped;
    {
        std::lock_guard lock(mLock);
        whenStopped = std::move(mWhenStopped);
    }
    if (whenStopped) whenStopped(recording, frames);
}

void CaptureControl::scheduleTimers() {
    MainLoop& loop = MainLoop::shared();
    captureTimer = loop.addTimer(kMenuTimerInterval, true, [this] { mController.updateMenuTimer(); });
    captureKillTimer = loop.addTimer(mTimeLimitSeconds, false, [this] {
        captureKillTimer = 0;  // a one-shot timer is gone once it fired
        (void)mController.stopSystemCapture();
    });
    mController.setRecordIconShowing(false);
    captureIconBlinkTimer = loop.addTimer(kBlinkInterval, true, [this] { mController.updateStatusBlinkTimer(); });
}

void CaptureControl::invalidateTimers() {
    for (platform::MainLoop::SourceId* timer : {&captureTimer, &captureKillTimer, &captureIconBlinkTimer}) {
        if (*timer) MainLoop::shared().removeSource(*timer);
        *timer = 0;
    }
}

void CaptureControl::joinFinishedThread() {
    if (mThread.joinable()) mThread.join();
}
