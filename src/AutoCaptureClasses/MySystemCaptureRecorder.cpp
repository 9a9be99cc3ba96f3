#include "AutoCaptureClasses/MySystemCaptureRecorder.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "AutoCaptureClasses/CaptureLock.h"
#include "AutoCaptureClasses/DefaultOutputMemory.h"
#include "frameworks/ZORAudioDevice.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/Log.h"
#include "platform/SoundPlaybackStream.h"
#include "platform/SoundRecordStream.h"
#include "platform/SoundServer.h"

using platform::Log;

namespace {

// The rings hold this many capture blocks, and never less than a floor that
// leaves the file writer room for its 2048-frame blocks.
constexpr uint32_t kRingBlocks = 256;
constexpr uint32_t kMinimumBlockFrames = 512;

std::shared_ptr<ZORAudioDevice> deviceFrom(const platform::SinkInfo& sink) {
    return std::make_shared<ZORAudioDevice>(sink.index, sink.name, sink.description, sink.monitorSource);
}

}  // namespace

bool MySystemCaptureRecorder::isAvailable() {
    static std::mutex lock;
    static std::string lastReport;
    std::string whyNot;
    auto device = ZORAudioDevice::deviceWithDeviceName(CAPTURE_DEVICE_NAME, &whyNot);
    std::string report = device ? std::string("capture device \"") + CAPTURE_DEVICE_NAME + "\" is available (sink " +
                                      device->sinkName() + ")\n"
                                : std::string("capture device \"") + CAPTURE_DEVICE_NAME +
                                      "\" is not available: " + whyNot + "\n";
    std::lock_guard guard(lock);
    if (report != lastReport) (device ? Log::info : Log::warning)("%s", report.c_str());
    lastReport = report;
    return device != nullptr;
}

std::shared_ptr<MySystemCaptureRecorder> MySystemCaptureRecorder::init() { return init(Options{}); }

std::shared_ptr<MySystemCaptureRecorder> MySystemCaptureRecorder::init(const Options& options) {
    auto lock = CaptureLock::acquire();
    if (!lock) {
        Log::error("%s\n", lock.message().c_str());
        return nullptr;
    }
    auto recorder = std::make_shared<MySystemCaptureRecorder>(Token{}, options);
    recorder->mCaptureLock = std::move(*lock);
    int32_t status = recorder->prepareIOA();
    if (status != 0) {
        Log::info("prepareIOA returned %d\n", status);
        return nullptr;
    }
    recorder->findOutputDevice();
    // Switched before `init` returns, so that `record` right after it
    // already captures what the programs play.
    recorder->switchToCaptureDevice();
    recorder->setupPlayThru();
    if (!recorder->waitForFirstAudio()) {
        recorder->disablePlayThru();
        recorder->restoreOutputDevice();
        return nullptr;
    }
    recorder->mRecorderState = kRecorderStateReady;
    recorder->startThreads();
    return recorder;
}

MySystemCaptureRecorder::MySystemCaptureRecorder(Token, const Options& options)
    : mCaptureBlockBytes(std::clamp(options.captureBlockBytes, kCaptureBytesPerFrame, 1u << 20)),
      mReconnectTimeoutMs(options.reconnectTimeoutMs) {
    mRecInfo.mAudioRingBuffer = &mPlayThruRingBuffer;
    mCaptureBufferList.mNumberBuffers = 1;
    mCaptureBufferList.mBuffers[0] = {2, 0, mCaptureDequeueBuffer.data()};
}

MySystemCaptureRecorder::~MySystemCaptureRecorder() {
    disablePlayThru();
    mPlayThruStream.reset();
    mRecordStream.reset();
}

// The "driver connection": the sound server, the capture sink and a record
// stream on its monitor. One block per fragment: the small fragments keep the
// server's timing of the stream, and so the recording's ends, within a block.
MySystemCaptureRecorder::DriverConnection MySystemCaptureRecorder::openDriverConnection() const {
    DriverConnection connection;
    auto fail = [&connection](int32_t status, const std::string& why) {
        connection.mStatus = status;
        connection.mWhyNot = why;
        return std::move(connection);
    };
    auto server = platform::SoundServer::connect("Trovario capture", kSoundServerTimeoutMs);
    if (!server) return fail(kCaptureErrorNoSoundServer, "Sound server connection failed: " + server.message());
    connection.mServer = std::move(*server);
    auto sinks = connection.mServer->sinks();
    if (!sinks) return fail(kCaptureErrorNoSoundServer, "Sound server did not list its sinks: " + sinks.message());
    auto byDescription = std::find_if(sinks->begin(), sinks->end(),
                                      [](const auto& sink) { return sink.description == CAPTURE_DEVICE_NAME; });
    if (byDescription == sinks->end())
        return fail(kCaptureErrorNoDevice, std::string("the capture device \"") + CAPTURE_DEVICE_NAME +
                                               "\" is not loaded in the sound server; load it with: "
                                               "trovarioctl install-capture-device");
    connection.mDevice = deviceFrom(*byDescription);
    auto stream = platform::SoundRecordStream::open(connection.mServer, connection.mDevice->monitorSourceName(),
                                                    mCaptureBlockBytes);
    if (!stream) return fail(kCaptureErrorStreamFailed, "Capture stream failed: " + stream.message());
    connection.mStream = std::move(*stream);
    return connection;
}

int32_t MySystemCaptureRecorder::prepareIOA() {
    DriverConnection connection = openDriverConnection();
    if (connection.mStatus != 0) {
        if (connection.mStatus == kCaptureErrorNoDevice) Log::info("Couldn't find any matches.\n");
        Log::error("%s\n", connection.mWhyNot.c_str());
        return connection.mStatus;
    }
    mServer = std::move(connection.mServer);
    mCaptureDevice = std::move(connection.mDevice);
    mRecordStream = std::move(connection.mStream);
    restartIdleCaptureSink();
    Log::info("Driver connection opened\n");
    return 0;
}

// An idle null sink renders in blocks of its longest latency (2 s on
// PulseAudio), and only at the end of the block under way does it take the
// small fragments our stream asks for: the first audio, and so `init`, would
// come up to 2 s late (measured: 1.0 to 2.0 s, against 16 ms with the
// restart). Restarting the sink while nothing uses it starts it anew at the
// new latency; one in use keeps its pace, which its players depend on.
void MySystemCaptureRecorder::restartIdleCaptureSink() {
    const std::string sink = mCaptureDevice->sinkName();
    platform::Result<bool> played = mServer->sinkHasInputs(mCaptureDevice->deviceID());
    if (!played || *played) return;
    platform::Status restarted = mServer->suspendSink(sink, true);
    if (restarted) restarted = mServer->suspendSink(sink, false);
    if (!restarted) Log::info("the capture sink could not be restarted (%s); its first audio may come late\n",
                              restarted.message().c_str());
}

// The output the user listens to now. A capture device left as the default by
// an agent that died is given back first, so that play-through never feeds the
// capture device itself.
void MySystemCaptureRecorder::findOutputDevice() {
    DefaultOutputMemory::restoreAfterInterruptedCapture(*mCaptureLock);
    std::string whyNot;
    auto device = ZORAudioDevice::defaultOutputDevice(&whyNot);
    if (device && device->sinkName() == mCaptureDevice->sinkName()) {
        device = nullptr;
        whyNot = "the capture device is the default output";
    }
    if (!device) Log::warning("No output device to play through to: %s\n", whyNot.c_str());
    mOutputDevice = device;
}

// Whatever the server hands over first, such as the sink's old silence, is
// captured before `record` and so stays out of the recording.
bool MySystemCaptureRecorder::waitForFirstAudio() {
    int32_t waited = mRecordStream->waitForData(kFirstAudioTimeoutMs);
    if (waited == 0) return true;
    Log::error("The capture device \"%s\" delivered no audio within %d ms%s; nothing can be recorded\n",
               CAPTURE_DEVICE_NAME, kFirstAudioTimeoutMs,
               waited == platform::SoundRecordStream::kFailed ? " (the sound server ended the stream)" : "");
    return false;
}

// Named, so that they can be told apart in top and perf.
void MySystemCaptureRecorder::startThreads() {
    std::thread([self = shared_from_this()] {
        pthread_setname_np(pthread_self(), "trov-capture");
        self->captureRunLoop();
    }).detach();
    std::thread([self = shared_from_this()] {
        pthread_setname_np(pthread_self(), "trov-writer");
        self->fileWriteLoop();
    }).detach();
}

void MySystemCaptureRecorder::record() {
    const int64_t now = captureFrameNow();
    int32_t state = mRecorderState.load();
    while (state == kRecorderStateReady || state == kRecorderStatePaused) {
        if (mRecorderState.compare_exchange_weak(state, kRecorderStateRecording)) {
            mTimeline.start(now);
            return;
        }
    }
}

void MySystemCaptureRecorder::pause() {
    const int64_t now = captureFrameNow();
    int32_t state = kRecorderStateRecording;
    if (mRecorderState.compare_exchange_strong(state, kRecorderStatePaused)) mTimeline.end(now);
}

// The frames up to the mark are still on their way from the server; the
// writer takes them as they come, the last partial block too, and only then
// is the file closed.
void MySystemCaptureRecorder::stop() {
    const int64_t now = captureFrameNow();
    const bool away = soundServerAway();
    int32_t state = mRecorderState.load();
    do {
        if (state != kRecorderStateRecording && state != kRecorderStatePaused) return;
    } while (!mRecorderState.compare_exchange_weak(state, kRecorderStateStopped));
    mStoppedWhileAway = away;
    mTimeline.end(now);
    wakeWorkers();
    const bool drained = waitForWriter();
    closeScratchFile(drained);
    {
        std::lock_guard guard(mRecordStreamLock);
        if (mRecordStream) mRecordStream->interrupt();
    }
    disablePlayThru();
    restoreOutputDevice();
}

// A sink hands its audio to the monitor when it renders it, up to its
// latency before it plays it; that latency is at most the fragment we ask
// for (the sink takes the smallest its clients ask). Measured on a null sink:
// the arrived frames run 10 ms ahead of what plays.
// While the server is away, nothing is captured after the last frame that came.
int64_t MySystemCaptureRecorder::captureFrameNow() {
    std::lock_guard guard(mRecordStreamLock);
    if (!mRecordStream) return mCapturedFrames.load();
    const int64_t renderedAhead = mCaptureBlockBytes / kCaptureBytesPerFrame;
    return mStreamBase + std::max<int64_t>(mRecordStream->capturePosition() - renderedAhead, 0);
}

// Between a stream the server ended and the next one.
bool MySystemCaptureRecorder::soundServerAway() {
    std::lock_guard guard(mRecordStreamLock);
    return !mRecordStream && !mCaptureFailed;
}

// Taking the lock orders the notification after a waiter's check of its
// condition, so that no wake-up falls between the check and the wait.
void MySystemCaptureRecorder::wakeWorkers() {
    { std::lock_guard guard(mWakeLock); }
    mWake.notify_all();
}

bool MySystemCaptureRecorder::waitForWriter() {
    std::unique_lock lock(mWakeLock);
    if (mWake.wait_for(lock, std::chrono::milliseconds(kDrainTimeoutMs), [this] { return mWriterDone.load(); }))
        return true;
    mWriterAbandoned = true;
    return false;
}

void MySystemCaptureRecorder::setCaptureFailureHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard guard(mHandlerLock);
    mCaptureFailureHandler = std::move(handler);
}

void MySystemCaptureRecorder::addAudioIOSubscriber(const std::shared_ptr<AudioIOSubscriber>& subscriber) {
    std::lock_guard guard(mSubscriberLock);
    mHasInputSubscribers = true;
    if (std::find(mInputSubscribersArray.begin(), mInputSubscribersArray.end(), subscriber) ==
        mInputSubscribersArray.end())
        mInputSubscribersArray.push_back(subscriber);
}

void MySystemCaptureRecorder::removeAudioIOSubscriber(const std::shared_ptr<AudioIOSubscriber>& subscriber) {
    std::lock_guard guard(mSubscriberLock);
    std::erase(mInputSubscribersArray, subscriber);
    if (mInputSubscribersArray.empty()) mHasInputSubscribers = false;
}

void MySystemCaptureRecorder::notifySubscribers() {
    std::lock_guard guard(mSubscriberLock);
    for (size_t i = 0; i < mInputSubscribersArray.size(); ++i) {
        // Held for the call, in case the subscriber removes itself.
        std::shared_ptr<AudioIOSubscriber> subscriber = mInputSubscribersArray[i];
        subscriber->audioIOHandler(this, nullptr, &mCaptureBufferList, nullptr, nullptr, nullptr, nullptr);
    }
}

// The capture thread leaves the draining to the connection's loop thread,
// which the server wakes anyway for every fragment, and waits for the end:
// a stop, or a stream the server ended, after which it connects again. The
// stream pointer is captured rather than read from the member, which
// closeRecordStream clears; the stream stops calling the consumer before it
// goes away.
void MySystemCaptureRecorder::captureRunLoop() {
    for (;;) {
        platform::SoundRecordStream* stream = mRecordStream.get();
        stream->setConsumer([this, stream] { drainCaptureStream(*stream); });
        if (stream->waitForEnd() != platform::SoundRecordStream::kFailed) break;
        if (!reconnectAfterOutage()) break;
    }
    disablePlayThru();
    restoreOutputDevice();
    closeRecordStream();
}

void MySystemCaptureRecorder::captureFailed(const std::string& why) {
    Log::error("Capture stream ended: %s\n", why.c_str());
    mCaptureFailed = true;
    wakeWorkers();
    int32_t state = mRecorderState.load();
    if (state != kRecorderStateRecording && state != kRecorderStatePaused) return;
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard guard(mHandlerLock);
        handler = mCaptureFailureHandler;
    }
    if (handler) handler(why);
}

// Frames the queue could not take still count, as silence, so that every
// later frame keeps its place in the stream.
void MySystemCaptureRecorder::takeDroppedFrames(const platform::SoundRecordStream& stream) {
    uint64_t lost = stream.droppedBytes();
    if (lost == mReportedLoss) return;
    const int64_t frames = static_cast<int64_t>((lost - mReportedLoss) / kCaptureBytesPerFrame);
    Log::warning("Capture thread fell behind: %llu bytes of audio lost\n",
                 static_cast<unsigned long long>(lost - mReportedLoss));
    mReportedLoss = lost;
    if (mRecorderState == kRecorderStateRecording) mLostFrames += frames;
    mFileFrame += frames;
}

void MySystemCaptureRecorder::allocateRings(uint32_t firstBlockBytes) {
    mDataBufferByteSize = firstBlockBytes;
    uint32_t blockFrames = std::max(mDataBufferByteSize / kCaptureBytesPerFrame, kMinimumBlockFrames);
    mFileOutputRingBuffer.Allocate(2, kCaptureBytesPerFrame, blockFrames * kRingBlocks);
    mPlayThruRingBuffer.Allocate(2, kCaptureBytesPerFrame, blockFrames * kRingBlocks);
    mRingsAllocated = true;
}

// Every frame goes into the file ring, numbered as in the stream; which of
// them belong to the recording is the timeline's business.
void MySystemCaptureRecorder::drainCaptureStream(platform::SoundRecordStream& stream) {
    takeDroppedFrames(stream);
    const uint32_t entryLimit = std::min(mCaptureBlockBytes, kDequeueBufferBytes);
    while (stream.dataAvailable()) {
        if (!mRingsAllocated) allocateRings(std::min(stream.peekSize(), entryLimit));
        // A block larger than the buffer comes in several pieces; none is lost.
        uint32_t size = entryLimit;
        int32_t dequeued = stream.dequeue(mCaptureDequeueBuffer.data(), size);
        if (dequeued == 0) mCaptureBufferList.mBuffers[0].mDataByteSize = size;
        if (mHasInputSubscribers) notifySubscribers();
        if (dequeued != 0) continue;
        uint32_t frames = size / kCaptureBytesPerFrame;
        if (mPlayThruEnabled) {
            mPlayThruRingBuffer.Store(&mCaptureBufferList, frames, mPlayThruFrame);
            mPlayThruFrame += frames;
        }
        mFileOutputRingBuffer.Store(&mCaptureBufferList, frames, mFileFrame);
        mFileFrame += frames;
        mCapturedFrames.store(mFileFrame, std::memory_order_release);
    }
}

void MySystemCaptureRecorder::closeRecordStream() {
    std::lock_guard guard(mRecordStreamLock);
    mRecordStream.reset();
}

// The previous default goes on disk before the switch, so that an agent
// killed mid-capture can give it back at its next start.
void MySystemCaptureRecorder::switchToCaptureDevice() {
    std::lock_guard guard(mDeviceLock);
    if (mOutputSwitched) return;
    if (mOutputDevice && !DefaultOutputMemory::remember(mOutputDevice->sinkName()))
        Log::warning("Cannot note the default output in %s\n", DefaultOutputMemory::path().c_str());
    if (switchSystemOutputDeviceTo(mCaptureDevice) == 0)
        mOutputSwitched = true;
    else
        DefaultOutputMemory::forget();
}

// Called by stop and by the capture thread as it ends, whichever comes first;
// one attempt only, so that a stalled server costs stop one time-out at most.
// On failure the note on disk stays, for the next start, and so does the
// capture lock, until the recorder goes away.
void MySystemCaptureRecorder::restoreOutputDevice() {
    std::lock_guard guard(mDeviceLock);
    if (mOutputSwitched && !mRestoreAttempted) {
        mRestoreAttempted = true;
        if (!mOutputDevice || switchSystemOutputDeviceTo(mOutputDevice) == 0) {
            mOutputSwitched = false;
            DefaultOutputMemory::forget();
        }
    }
    if (!mOutputSwitched) mCaptureLock.reset();
}

int32_t MySystemCaptureRecorder::switchSystemOutputDeviceTo(const std::shared_ptr<ZORAudioDevice>& device) {
    platform::Status switched =
        mServer ? mServer->setDefaultSink(device->sinkName()) : platform::Status::failure("the sound server is away");
    if (switched) return 0;
    Log::error("Cannot make \"%s\" the default output: %s\n", device->sinkName().c_str(), switched.message().c_str());
    return ZORAudioDevice::kRefused;
}
