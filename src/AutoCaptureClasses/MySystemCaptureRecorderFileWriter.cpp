// The recorder's file-writer thread: moves the file-output ring into the
// scratch CAF file in blocks of 2048 frames.
#include <algorithm>
#include <chrono>
#include <vector>

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/AudioConstants.h"
#include "platform/Log.h"
#include "platform/Paths.h"

using platform::Log;

namespace {

constexpr double kIdleSleep = 0.01;
constexpr double kFetchRetrySleep = 0.3;
constexpr double kLongestWriteRetrySleep = 1.0;

// The scratch file: 16-bit big-endian signed stereo at 44100 Hz.
AudioStreamBasicDescription scratchDataFormat() {
    AudioStreamBasicDescription format;
    format.mSampleRate = platform::kCaptureSampleRate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.mBytesPerPacket = 4;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = 4;
    format.mChannelsPerFrame = 2;
    format.mBitsPerChannel = 16;
    return format;
}

bool lapped(int32_t fetched) {
    return fetched == kRingBufferStartsEarly || fetched == kRingBufferWholeRangeEarly ||
           fetched == kRingBufferTooMuch;
}

}  // namespace

void MySystemCaptureRecorder::setAudioFilePath(const std::string& path) {
    std::lock_guard guard(mFileLock);
    mAudioFilePath = path;
    size_t slash = path.find_last_of('/');
    mParentDirPath = slash == std::string::npos ? "." : path.substr(0, std::max<size_t>(slash, 1));
    mFileName = slash == std::string::npos ? path : path.substr(slash + 1);
}

AudioStreamBasicDescription MySystemCaptureRecorder::streamFormat() const {
    std::lock_guard guard(mFileLock);
    return mStreamFormat;
}

bool MySystemCaptureRecorder::successfulRecording() const {
    std::lock_guard guard(mFileLock);
    return mFinishedSuccessfully;
}

// The file is created when recording first starts rather than when the thread
// starts: the controller sets the path only after `init` has returned.
void MySystemCaptureRecorder::fileWriteLoop() {
    const AudioStreamBasicDescription clientFormat = ASBD_CreateCanonical(platform::kCaptureSampleRate, 2, true);
    std::vector<float> block(static_cast<size_t>(kFileBlockFrames) * 2);
    AudioBufferList list{1, {{2, kFileBlockFrames * kCaptureBytesPerFrame, block.data()}}};
    int64_t readFrame = 0;
    bool fileCreated = false;
    bool idleLogged = false;
    double writeRetrySleep = kIdleSleep;
    for (;;) {
        int32_t state = mRecorderState.load();
        if (state == kRecorderStateReady || state == kRecorderStatePaused) {
            // Once per pause rather than a hundred times a second.
            if (!idleLogged) Log::debug("slept2");
            idleLogged = true;
            sleepWhileRunning(kIdleSleep);
            continue;
        }
        if (state != kRecorderStateRecording) return;
        idleLogged = false;
        if (!fileCreated && !(fileCreated = createScratchFile(clientFormat))) return;

        int32_t fetched = mFileOutputRingBuffer.Fetch(&list, kFileBlockFrames, readFrame);
        if (lapped(fetched)) {
            skipLostFrames(readFrame);
            continue;
        }
        if (fetched != kRingBufferOK || mRecorderState != kRecorderStateRecording) {
            sleepWhileRunning(kFetchRetrySleep);
            continue;
        }
        if (writeBlock(&list, readFrame)) {
            writeRetrySleep = kIdleSleep;
        } else {
            // The same block again, after a pause that grows while the
            // failure lasts (a full disk would otherwise flood the log).
            sleepWhileRunning(writeRetrySleep);
            writeRetrySleep = std::min(writeRetrySleep * 2, kLongestWriteRetrySleep);
        }
    }
}

bool MySystemCaptureRecorder::createScratchFile(const AudioStreamBasicDescription& clientFormat) {
    std::lock_guard guard(mFileLock);
    if (mRecorderState == kRecorderStateStopped) return false;
    mStreamFormat = scratchDataFormat();
    const std::string scratch = platform::scratchRecordingPath();
    const std::string path = mAudioFilePath.empty() ? scratch : mAudioFilePath;
    // The default folder is the user's own (0700), so no one else can block or read a capture.
    if (path == scratch) {
        platform::Status folder = platform::createDirectories(path.substr(0, path.find_last_of('/')));
        if (!folder) {
            Log::error("cannot create the folder of the recording file %s: %s; nothing is recorded", path.c_str(),
                       folder.message().c_str());
            return false;
        }
    }
    // The toolkit replaces whatever is at the path, never follows a link and
    // creates the file for its owner only.
    auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, clientFormat, mStreamFormat);
    int32_t status = file ? file->open() : kAudioFileUnspecifiedError;
    if (status != 0) {
        Log::info("failed to create capture scratch file: %d", status);
        Log::error("cannot create the recording file %s: %s; nothing is recorded (check that its folder exists "
                   "and can be written)",
                   path.c_str(), file ? file->lastErrorMessage().c_str() : "the file could not be made");
        return false;
    }
    status = file->setClientStreamFormat(clientFormat);
    if (status != 0) {
        Log::info("failed to set format on capture scratch file: %d", status);
        Log::error("cannot record into %s: %s; nothing is recorded", path.c_str(), file->lastErrorMessage().c_str());
        file->close();
        return false;
    }
    file->write(nullptr, 0);
    mAudioFile = file;
    return true;
}

bool MySystemCaptureRecorder::writeBlock(AudioBufferList* list, int64_t& readFrame) {
    std::lock_guard guard(mFileLock);
    if (!mAudioFile) return true;  // closed by stop; the loop ends at its next check
    int32_t status = mAudioFile->write(list, kFileBlockFrames);
    if (status != 0) {
        Log::info("ExtAudioFileWrite write error %d\n", status);
        Log::warning("%s; trying again (is the disk full?)", mAudioFile->lastErrorMessage().c_str());
        return false;
    }
    readFrame += kFileBlockFrames;
    mNumRecordedFrames += kFileBlockFrames;
    mSilenceDetector.setRecordedFrames(mNumRecordedFrames);
    return true;
}

// The capture has overwritten frames the writer had not yet taken. Rather
// than stall until stop, go on from the middle of what the ring still holds
// and say what was lost.
void MySystemCaptureRecorder::skipLostFrames(int64_t& readFrame) {
    int64_t start = 0;
    int64_t end = 0;
    if (mFileOutputRingBuffer.GetTimeBounds(start, end) != kRingBufferOK) return;
    int64_t resume = start + (end - start) / 2;
    Log::warning("Capture file writer fell behind: frames %lld to %lld are lost\n", static_cast<long long>(readFrame),
                 static_cast<long long>(resume));
    readFrame = resume;
}

bool MySystemCaptureRecorder::sleepWhileRunning(double seconds) {
    std::unique_lock lock(mWakeLock);
    return !mWake.wait_for(lock, std::chrono::duration<double>(seconds),
                           [this] { return mRecorderState == kRecorderStateStopped; });
}

void MySystemCaptureRecorder::closeScratchFile() {
    std::lock_guard guard(mFileLock);
    if (!mAudioFile) return;
    mFinishedSuccessfully = mAudioFile->close() == 0;
    mAudioFile.reset();
}
