// The recorder's play-through: a playback stream on the output that was the
// default when the recorder was created, pulling frames by frame number from
// the play-through ring.
#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "frameworks/ZORAudioDevice.h"
#include "platform/Log.h"
#include "platform/SoundPlaybackStream.h"

using platform::Log;

namespace {

// Check numbers of the error lines, one per sound-server call. The lines are
// diagnostics; what the user hears (or not) is said in words beside them.
constexpr int kCheckOutputDevice = 329;
constexpr int kCheckOpenStream = 342;
constexpr int kCheckStart = 287;
constexpr int kCheckStop = 298;

void reportError(int32_t status, int check) {
    Log::info("zorcoreaudio error: %ld ->  %s:  %d\n", static_cast<long>(status),
              "src/AutoCaptureClasses/MySystemCaptureRecorder", check);
}

}  // namespace

AudioStreamBasicDescription ASBD_CreateCanonical(double sampleRate, uint32_t channels, bool interleaved) {
    AudioStreamBasicDescription format;
    format.mSampleRate = sampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    if (!interleaved) format.mFormatFlags |= kAudioFormatFlagIsNonInterleaved;
    format.mBytesPerPacket = interleaved ? 4 * channels : 4;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = format.mBytesPerPacket;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = 32;
    return format;
}

int32_t MySystemCaptureRecorder::setupPlayThru() {
    if (!mOutputDevice) {
        reportError(kCaptureErrorNoDevice, kCheckOutputDevice);
        return kCaptureErrorNoDevice;
    }
    std::lock_guard guard(mPlayThruLock);
    mRecInfo.mSampleTime = 0;
    mRecInfo.mAudioRingBuffer = &mPlayThruRingBuffer;
    auto stream = platform::SoundPlaybackStream::open(
        mServer, mOutputDevice->sinkName(), kPlayThruQuantumFrames, false,
        [this](float* data, uint32_t frames) { return renderPlayThru(data, frames); });
    if (!stream) {
        reportError(kCaptureErrorStreamFailed, kCheckOpenStream);
        Log::warning("Play-through unavailable: %s\n", stream.message().c_str());
        return kCaptureErrorStreamFailed;
    }
    mPlayThruStream = std::move(*stream);
    return enablePlayThru();
}

// With the play-through lock held.
int32_t MySystemCaptureRecorder::enablePlayThru() {
    int32_t status = mPlayThruStream && mPlayThruStream->setRunning(true) ? 0 : kCaptureErrorStreamFailed;
    if (status != 0) {
        reportError(status, kCheckStart);
        Log::warning("Play-through did not start: the sound server refused; the capture is not heard\n");
    }
    mPlayThruEnabled = true;
    return status;
}

// Called by stop, by the capture thread as it ends and at destruction; only
// the first call after enabling talks to the server.
int32_t MySystemCaptureRecorder::disablePlayThru() {
    std::lock_guard guard(mPlayThruLock);
    if (!mPlayThruEnabled.exchange(false)) return 0;
    int32_t status = mPlayThruStream && mPlayThruStream->setRunning(false) ? 0 : kCaptureErrorStreamFailed;
    if (status != 0) {
        reportError(status, kCheckStop);
        Log::warning("Play-through did not stop: the sound server refused\n");
    }
    return status;
}

int32_t MySystemCaptureRecorder::InputProc(void* inRefCon, uint32_t*, const void*, uint32_t,
                                           uint32_t inNumberFrames, AudioBufferList* ioData) {
    auto* info = static_cast<RecInfo*>(inRefCon);
    int32_t result = info->mAudioRingBuffer->Fetch(ioData, inNumberFrames, info->mSampleTime);
    if (result == kRingBufferOK) info->mSampleTime += inNumberFrames;
    return result;
}

// A quantum the ring cannot give is played as silence. Once play-through has
// fallen further behind than the ring holds, it would stay silent for good:
// it goes on with the newest frames instead.
bool MySystemCaptureRecorder::renderPlayThru(float* data, uint32_t frames) {
    AudioBufferList list{1, {{2, frames * kCaptureBytesPerFrame, data}}};
    uint32_t flags = 0;
    int32_t result = InputProc(&mRecInfo, &flags, nullptr, 0, frames, &list);
    if (result == kRingBufferStartsEarly || result == kRingBufferWholeRangeEarly || result == kRingBufferTooMuch) {
        int64_t start = 0;
        int64_t end = 0;
        if (mPlayThruRingBuffer.GetTimeBounds(start, end) == kRingBufferOK)
            mRecInfo.mSampleTime = std::max(start, end - static_cast<int64_t>(frames));
    }
    return result == kRingBufferOK;
}
