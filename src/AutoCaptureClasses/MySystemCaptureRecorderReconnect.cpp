// The recorder through a sound-server outage: the capture thread lets the dead
// connection go, waits for the server and the capture device to come back,
// and resumes the capture where it was, with the time away as a gap of
// silence in the recording.
#include <chrono>

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "frameworks/ZORAudioDevice.h"
#include "platform/AudioConstants.h"
#include "platform/Log.h"
#include "platform/SoundPlaybackStream.h"
#include "platform/SoundRecordStream.h"
#include "platform/SoundServer.h"

using platform::Log;
using Clock = std::chrono::steady_clock;

// False when the capture ends here: stopped meanwhile, or the server stayed away.
bool MySystemCaptureRecorder::reconnectAfterOutage() {
    const Clock::time_point wentAway = Clock::now();
    dropDeadConnection();
    // The consumer has gone with the stream: the frame count is this thread's now.
    const int64_t at = mFileFrame;
    Log::warning("The sound server went away during the capture, %.2f s into it; waiting up to %d s for it\n",
                 static_cast<double>(at) / platform::kCaptureSampleRate, mReconnectTimeoutMs / 1000);
    DriverConnection connection;
    if (!waitForSoundServer(wentAway + std::chrono::milliseconds(mReconnectTimeoutMs), connection)) {
        if (mRecorderState != kRecorderStateStopped)
            captureFailed("the sound server went away and did not come back within " +
                          std::to_string(mReconnectTimeoutMs / 1000) + " s");
        return false;
    }
    const double away = std::chrono::duration<double>(Clock::now() - wentAway).count();
    // In place before the new stream delivers, so that the writer puts the
    // silence between the frames from before and after.
    mTimeline.addGap(at, static_cast<int64_t>(away * platform::kCaptureSampleRate));
    if (!resumeCapture(connection)) return false;
    Log::warning("The sound server is back after %.2f s; the capture goes on, with that much silence in the "
                 "recording\n", away);
    return true;
}

// Nothing of the dead connection is talked to again; the play-through stream
// and the record stream go with it.
void MySystemCaptureRecorder::dropDeadConnection() {
    {
        std::lock_guard guard(mPlayThruLock);
        mPlayThruEnabled = false;
        mPlayThruStream.reset();
    }
    closeRecordStream();
    std::lock_guard guard(mDeviceLock);
    mServer.reset();
}

// A stop ends the wait at once. Each change in why the server cannot be had
// yet is logged, once.
bool MySystemCaptureRecorder::waitForSoundServer(Clock::time_point deadline, DriverConnection& connection) {
    std::string lastWhy;
    while (Clock::now() < deadline) {
        if (!sleepWhileRunning(kReconnectIntervalMs / 1000.0)) return false;
        connection = openDriverConnection();
        if (connection.mStatus == 0) return true;
        const std::string why = connection.mStatus == kCaptureErrorNoSoundServer
                                    ? std::string("the sound server does not answer")
                                    : connection.mWhyNot;
        if (why != lastWhy) Log::info("Waiting for the sound server: %s\n", why.c_str());
        lastWhy = why;
    }
    return false;
}

// Under the device lock, so that a stop either comes first (and nothing is
// resumed) or gives back the output this switches.
bool MySystemCaptureRecorder::resumeCapture(DriverConnection& connection) {
    {
        std::lock_guard guard(mDeviceLock);
        if (mRecorderState == kRecorderStateStopped || mRestoreAttempted) return false;
        mServer = std::move(connection.mServer);
        mCaptureDevice = std::move(connection.mDevice);
        restartIdleCaptureSink();
        if (mOutputSwitched) switchSystemOutputDeviceTo(mCaptureDevice);
        if (mOutputDevice) setupPlayThru();
        mReportedLoss = 0;
        std::lock_guard streamGuard(mRecordStreamLock);
        mStreamBase = mFileFrame;
        mRecordStream = std::move(connection.mStream);
    }
    // A stop that found no stream to interrupt has set the state by now.
    return mRecorderState != kRecorderStateStopped;
}
