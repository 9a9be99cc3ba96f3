#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AutoCaptureClasses/AudioIOSubscriber.h"
#include "AutoCaptureClasses/AudioRingBuffer.h"
#include "AutoCaptureClasses/CaptureTimeline.h"
#include "frameworks/CoreAudioTypes.h"
#include "platform/Result.h"
#include "segmentation/SilenceDetector.h"

class AudioSegmentTree;
class CaptureLock;
class ZORAudioDevice;
class ZORExtAudioFile;
namespace platform {
class SoundServer;
class SoundRecordStream;
class SoundPlaybackStream;
}  // namespace platform

// The global name of the capture device the recorder records from.
inline constexpr char CAPTURE_DEVICE_NAME[] = "Trovario Capture Support";

// The canonical float format: `channels` 32-bit float channels at
// `sampleRate`, interleaved in one buffer or one buffer per channel.
AudioStreamBasicDescription ASBD_CreateCanonical(double sampleRate, uint32_t channels, bool interleaved);

// Records what the computer plays. While it runs, the capture device (a null
// sink of the sound server) is the default output; the capture thread drains
// the sink's monitor into two rings: one read by the file-writer thread, which
// writes the scratch CAF file, one read by the play-through stream, which
// plays the audio on to the output that was the default when the recorder was
// created, so that the user keeps hearing it.
//
// The recording holds exactly what the capture device played from the moment
// `record` returns to the moment `stop` is called (less the paused stretches):
// each call marks the frame being captured then, and `stop` waits for the
// frames up to its mark to reach the file before it closes it.
//
// A sound server that goes away during a capture (a restart after an update
// or a crash) does not end it: the recorder connects again once the server
// and the capture device are back, makes the capture device the default
// output again and goes on with the same recording, which holds silence for
// the time the server was away. Only a server that stays away longer than the
// reconnection time-out ends the capture, as a failure.
//
// The public operations are meant for one controlling thread. Both worker
// threads hold the recorder until they end, which they do after `stop`.
class MySystemCaptureRecorder : public std::enable_shared_from_this<MySystemCaptureRecorder> {
    struct Token {};

public:
    enum : int32_t {
        kRecorderStateInitializing = 0,
        kRecorderStateReady = 1,
        kRecorderStateRecording = 2,
        kRecorderStatePaused = 3,
        kRecorderStateStopped = 4,
    };
    // Status values of `init`'s log lines (the platform's I/O codes).
    static constexpr int32_t kCaptureErrorNoSoundServer = static_cast<int32_t>(0xE00002ED);
    static constexpr int32_t kCaptureErrorNoDevice = static_cast<int32_t>(0xE00002F0);
    static constexpr int32_t kCaptureErrorStreamFailed = static_cast<int32_t>(0xE00002BC);

    static constexpr uint32_t kCaptureBlockBytes = 4096;
    static constexpr uint32_t kDequeueBufferBytes = 16384;
    static constexpr uint32_t kCaptureBytesPerFrame = 8;
    static constexpr uint32_t kFileBlockFrames = 2048;
    static constexpr uint32_t kPlayThruQuantumFrames = 512;
    static constexpr int kSoundServerTimeoutMs = 500;
    // A sink that was rendering far ahead starts delivering only once that
    // audio has been played.
    static constexpr int kFirstAudioTimeoutMs = 3000;
    // How long `stop` waits for the frames up to its mark.
    static constexpr int kDrainTimeoutMs = 500;
    // A server restarted by its service manager is back within seconds.
    static constexpr int kReconnectTimeoutMs = 30000;
    static constexpr int kReconnectIntervalMs = 250;

    struct Options {
        // Size of the blocks the sound server is asked to deliver.
        uint32_t captureBlockBytes = kCaptureBlockBytes;
        // How long a capture waits for a sound server that went away.
        int reconnectTimeoutMs = kReconnectTimeoutMs;
    };

    // The render callback's context.
    struct RecInfo {
        int64_t mSampleTime = 0;
        AudioRingBuffer* mAudioRingBuffer = nullptr;
    };

    // Whether the capture device exists in a running sound server. Logs one
    // line whenever the answer (or the reason for "no") changes, so a caller
    // that polls does not flood the log.
    static bool isAvailable();

    // A ready recorder whose threads run, the capture device the default
    // output and its audio flowing; or nullptr (with log lines) when the sound
    // server or the capture device cannot be reached.
    static std::shared_ptr<MySystemCaptureRecorder> init();
    static std::shared_ptr<MySystemCaptureRecorder> init(const Options& options);
    MySystemCaptureRecorder(Token, const Options& options);
    ~MySystemCaptureRecorder();
    MySystemCaptureRecorder(const MySystemCaptureRecorder&) = delete;
    MySystemCaptureRecorder& operator=(const MySystemCaptureRecorder&) = delete;

    // Where the scratch file goes; read when recording first starts.
    void setAudioFilePath(const std::string& path);

    void record();  // 1 or 3 -> 2
    void pause();   // 2 -> 3
    void stop();    // 2 or 3 -> 4; drains and closes the file, stops play-through, restores the output
    int32_t recorderState() const { return mRecorderState.load(); }

    // The scratch file's data format once the writer has started (zero before).
    AudioStreamBasicDescription streamFormat() const;
    // Whether the file was closed and holds every frame from `record` to
    // `stop`; after `stop`.
    bool successfulRecording() const;
    // What went wrong with the recording, in words, when it was not successful.
    platform::Status recordingStatus() const;
    // Called once, from the capture thread, when the capture ends on its own
    // during a recording (the sound server went away and did not come back in
    // time); the owner should `stop`, which keeps and closes what was recorded.
    void setCaptureFailureHandler(std::function<void(const std::string& why)> handler);
    int64_t numberOfFramesRecorded() const { return mNumRecordedFrames.load(); }

    void addAudioIOSubscriber(const std::shared_ptr<AudioIOSubscriber>& subscriber);
    void removeAudioIOSubscriber(const std::shared_ptr<AudioIOSubscriber>& subscriber);

    float silenceThreshold() const { return mSilenceDetector.silenceThreshold(); }
    void setSilenceThreshold(float threshold) { mSilenceDetector.setSilenceThreshold(threshold); }
    float lengthOfSilence() const { return mSilenceDetector.lengthOfSilence(); }
    void setLengthOfSilence(float seconds) { mSilenceDetector.setLengthOfSilence(seconds); }
    std::shared_ptr<AudioSegmentTree> audioSegmentTree() const { return mSilenceDetector.audioSegmentTree(); }
    void mergeSilentTracks() { mSilenceDetector.mergeSilentTracks(); }

    AudioRingBuffer& audioRingBuffer() { return mFileOutputRingBuffer; }
    AudioRingBuffer& playThruRingBuffer() { return mPlayThruRingBuffer; }

    // Render callback of play-through: fetches `inNumberFrames` frames at the
    // context's sample time into `ioData`; advances only on success and
    // returns the ring's result code otherwise.
    static int32_t InputProc(void* inRefCon, uint32_t* ioActionFlags, const void* inTimeStamp,
                             uint32_t inBusNumber, uint32_t inNumberFrames, AudioBufferList* ioData);

private:
    // A connection to the sound server with a record stream on the capture
    // device's monitor, or a status code and why not.
    struct DriverConnection {
        std::shared_ptr<platform::SoundServer> mServer;
        std::shared_ptr<ZORAudioDevice> mDevice;
        std::unique_ptr<platform::SoundRecordStream> mStream;
        int32_t mStatus = 0;
        std::string mWhyNot;
    };
    // The silence of a gap the file writer is writing.
    struct SilenceDue {
        int64_t mAt = -1;
        int64_t mLeft = 0;
    };

    DriverConnection openDriverConnection() const;
    int32_t prepareIOA();
    void restartIdleCaptureSink();
    void findOutputDevice();
    bool waitForFirstAudio();
    void startThreads();
    int64_t captureFrameNow();
    bool soundServerAway();
    void captureFailed(const std::string& why);
    void wakeWorkers();
    bool waitForWriter();
    void captureRunLoop();
    bool reconnectAfterOutage();
    void dropDeadConnection();
    bool waitForSoundServer(std::chrono::steady_clock::time_point deadline, DriverConnection& connection);
    bool resumeCapture(DriverConnection& connection);
    void drainCaptureStream(platform::SoundRecordStream& stream);
    void allocateRings(uint32_t firstBlockBytes);
    void takeDroppedFrames(const platform::SoundRecordStream& stream);
    void notifySubscribers();
    void switchToCaptureDevice();
    void restoreOutputDevice();
    int32_t switchSystemOutputDeviceTo(const std::shared_ptr<ZORAudioDevice>& device);
    void closeRecordStream();

    void fileWriteLoop();
    bool createScratchFile(const AudioStreamBasicDescription& clientFormat);
    bool captureExhausted(int64_t readFrame) const;
    int32_t writeAvailable(const CaptureTimeline::Span& span, AudioBufferList* list, int64_t& readFrame,
                           SilenceDue& silence);
    int32_t writeSilence(AudioBufferList* list, SilenceDue& silence);
    bool writeBlock(AudioBufferList* list, uint32_t frames);
    void skipLostFrames(int64_t& readFrame);
    bool sleepWhileRunning(double seconds);
    void finishWriting();
    void closeScratchFile(bool drained);
    std::string describeProblems(bool drained, const std::string& closeError) const;

    int32_t setupPlayThru();
    int32_t enablePlayThru();
    int32_t disablePlayThru();
    bool renderPlayThru(float* data, uint32_t frames);

    const uint32_t mCaptureBlockBytes;
    const int mReconnectTimeoutMs;
    std::string mAudioFilePath;
    std::string mParentDirPath;
    std::string mFileName;
    uint32_t mDataBufferByteSize = 0;
    bool mFinishedSuccessfully = false;
    std::string mProblem;      // why not, in words
    std::string mFileProblem;  // the file could not be made
    std::atomic<int64_t> mNumRecordedFrames{0};
    AudioStreamBasicDescription mStreamFormat{};
    std::shared_ptr<ZORExtAudioFile> mAudioFile;
    mutable std::mutex mFileLock;  // the file, its path and format; a write never overlaps the close

    AudioRingBuffer mFileOutputRingBuffer;
    AudioRingBuffer mPlayThruRingBuffer;
    RecInfo mRecInfo;

    std::atomic<bool> mHasInputSubscribers{false};
    std::vector<std::shared_ptr<AudioIOSubscriber>> mInputSubscribersArray;
    std::recursive_mutex mSubscriberLock;  // a subscriber may remove itself from its callback
    std::array<float, kDequeueBufferBytes / sizeof(float)> mCaptureDequeueBuffer{};
    AudioBufferList mCaptureBufferList{};
    // The draining's own, on the connection's loop thread. mFileFrame counts
    // every frame of the stream, recorded or not.
    bool mRingsAllocated = false;
    int64_t mFileFrame = 0;
    int64_t mPlayThruFrame = 0;
    uint64_t mReportedLoss = 0;

    CaptureTimeline mTimeline;
    std::atomic<int64_t> mCapturedFrames{0};  // stored in the file ring so far
    std::atomic<int64_t> mWrittenUntil{0};    // the stream frame the writer has reached
    std::atomic<int64_t> mLostFrames{0};      // of the recording, never to be had
    std::atomic<bool> mCaptureFailed{false};
    std::atomic<bool> mStoppedWhileAway{false};
    std::atomic<bool> mWriterDone{false};
    std::atomic<bool> mWriterAbandoned{false};
    std::mutex mHandlerLock;
    std::function<void(const std::string&)> mCaptureFailureHandler;

    std::shared_ptr<platform::SoundServer> mServer;
    std::unique_ptr<platform::SoundRecordStream> mRecordStream;
    std::atomic<int64_t> mStreamBase{0};  // the capture's frame of the record stream's first frame
    std::mutex mRecordStreamLock;  // the stream goes away while stop may wake it
    std::unique_ptr<platform::SoundPlaybackStream> mPlayThruStream;
    std::mutex mPlayThruLock;  // the capture thread replaces the stream after an outage
    std::shared_ptr<ZORAudioDevice> mCaptureDevice;
    std::shared_ptr<ZORAudioDevice> mOutputDevice;
    // The capture thread and stop both switch the default output; the
    // capture thread replaces server and devices after an outage.
    std::mutex mDeviceLock;
    bool mOutputSwitched = false;
    bool mRestoreAttempted = false;
    std::unique_ptr<CaptureLock> mCaptureLock;  // held until the output is given back

    std::atomic<bool> mPlayThruEnabled{false};
    std::atomic<int32_t> mRecorderState{kRecorderStateInitializing};
    std::mutex mWakeLock;
    std::condition_variable mWake;  // ends the file writer's sleeps at stop; tells stop the writer is done

    SilenceDetector mSilenceDetector{0.001f, 0.25f};
};
