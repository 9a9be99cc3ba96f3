// The recorder's file-writer thread: moves the recorded spans of the
// file-output ring into the scratch CAF file in blocks of 2048 frames, and
// the last part of a span as it is.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "AutoCaptureClasses/MySystemCaptureRecorder.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/AudioConstants.h"
#include "platform/Log.h"
#include "platform/Paths.h"

using platform::Log;

namespace {

constexpr double kIdleSleep = 0.01;
constexpr double kFetchRetrySleep = 0.3;
constexpr double kLongestWriteRetrySleep = 1.0;
// While stop waits, the last frames are taken as soon as they arrive.
constexpr auto kDrainPoll = std::chrono::milliseconds(2);

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

platform::Status MySystemCaptureRecorder::recordingStatus() const {
    std::lock_guard guard(mFileLock);
    if (mFinishedSuccessfully) return platform::Status::success();
    return platform::Status::failure(mProblem.empty() ? "the recording has not been stopped" : mProblem);
}

// The file is created when recording first starts rather than when the thread
// starts: the controller sets the path only after `init` has returned.
void MySystemCaptureRecorder::fileWriteLoop() {
    std::vector<float> block(static_cast<size_t>(kFileBlockFrames) * 2);
    AudioBufferList list{1, {{2, kFileBlockFrames * kCaptureBytesPerFrame, block.data()}}};
    int64_t readFrame = 0;
    SilenceDue silence;
    bool fileCreated = false;
    bool idleLogged = false;
    double writeRetrySleep = kIdleSleep;
    while (!mWriterAbandoned) {
        std::optional<CaptureTimeline::Span> span = mTimeline.spanAfter(readFrame);
        const bool stopping = mRecorderState == kRecorderStateStopped;
        if (!span || (stopping && captureExhausted(readFrame))) {
            if (stopping) break;
            // Once per pause rather than a hundred times a second.
            if (!idleLogged) Log::debug("slept2");
            idleLogged = true;
            sleepWhileRunning(kIdleSleep);
            continue;
        }
        idleLogged = false;
        if (!fileCreated && !(fileCreated = createScratchFile(ASBD_CreateCanonical(platform::kCaptureSampleRate, 2, true))))
            break;
        readFrame = std::max(readFrame, span->mFrom);
        mWrittenUntil = readFrame;
        const int32_t written = writeAvailable(*span, &list, readFrame, silence);
        if (written > 0) {
            writeRetrySleep = kIdleSleep;
        } else if (written < 0) {
            // The same block again, after a pause that grows while the
            // failure lasts (a full disk would otherwise flood the log).
            sleepWhileRunning(writeRetrySleep);
            writeRetrySleep = std::min(writeRetrySleep * 2, kLongestWriteRetrySleep);
        } else if (stopping) {
            std::this_thread::sleep_for(kDrainPoll);
        } else {
            sleepWhileRunning(kFetchRetrySleep);
        }
    }
    finishWriting();
}

// Nothing more will come: the capture has ended on its own and everything it
// delivered is written.
bool MySystemCaptureRecorder::captureExhausted(int64_t readFrame) const {
    return mCaptureFailed && readFrame >= mCapturedFrames.load(std::memory_order_acquire);
}

// Writes the next block of the span if the capture has delivered it; the
// span's last frames, and those before a gap, go out as a shorter block once
// they have all arrived. A gap inside the span is written as silence first.
// 1 when it wrote or skipped frames, 0 when it must wait for the capture, -1
// when the write failed.
int32_t MySystemCaptureRecorder::writeAvailable(const CaptureTimeline::Span& span, AudioBufferList* list,
                                                int64_t& readFrame, SilenceDue& silence) {
    const std::optional<CaptureTimeline::Gap> gap = mTimeline.gapAfter(readFrame);
    if (gap && gap->mAt == readFrame && silence.mAt != readFrame) silence = {readFrame, gap->mFrames};
    if (silence.mAt == readFrame && silence.mLeft > 0) return writeSilence(list, silence);
    const std::optional<CaptureTimeline::Gap> nextGap =
        gap && gap->mAt > readFrame ? gap : mTimeline.gapAfter(readFrame + 1);
    const int64_t until = std::min(span.mUntil, nextGap ? nextGap->mAt : CaptureTimeline::kOpen);
    const int64_t captured = mCapturedFrames.load(std::memory_order_acquire);
    const bool complete = until <= captured || mCaptureFailed;
    const int64_t frames = std::min<int64_t>(kFileBlockFrames, std::min(until, captured) - readFrame);
    if (frames <= 0 || (frames < kFileBlockFrames && !complete)) return 0;
    list->mBuffers[0].mDataByteSize = static_cast<uint32_t>(frames) * kCaptureBytesPerFrame;
    const int32_t fetched = mFileOutputRingBuffer.Fetch(list, static_cast<uint32_t>(frames), readFrame);
    if (lapped(fetched)) {
        skipLostFrames(readFrame);
        return 1;
    }
    if (fetched != kRingBufferOK) return 0;
    if (!writeBlock(list, static_cast<uint32_t>(frames))) return -1;
    readFrame += frames;
    mWrittenUntil = readFrame;
    return 1;
}

int32_t MySystemCaptureRecorder::writeSilence(AudioBufferList* list, SilenceDue& silence) {
    const auto frames = static_cast<uint32_t>(std::min<int64_t>(kFileBlockFrames, silence.mLeft));
    list->mBuffers[0].mDataByteSize = frames * kCaptureBytesPerFrame;
    std::memset(list->mBuffers[0].mData, 0, list->mBuffers[0].mDataByteSize);
    if (!writeBlock(list, frames)) return -1;
    silence.mLeft -= frames;
    return 1;
}

void MySystemCaptureRecorder::finishWriting() {
    mWriterDone = true;
    wakeWorkers();
}

bool MySystemCaptureRecorder::createScratchFile(const AudioStreamBasicDescription& clientFormat) {
    std::lock_guard guard(mFileLock);
    if (mWriterAbandoned) return false;
    mStreamFormat = ZORAudioStreamBasicDescription::scratchRecordingFormat();
    const std::string scratch = platform::scratchRecordingPath();
    const std::string path = mAudioFilePath.empty() ? scratch : mAudioFilePath;
    auto fail = [&](const std::string& why) {
        mFileProblem = "cannot record into " + path + ": " + why + "; nothing is recorded";
        Log::error("%s", mFileProblem.c_str());
        return false;
    };
    // The default folder is the user's own (0700), so no one else can block or read a capture.
    if (path == scratch) {
        platform::Status folder = platform::createDirectories(path.substr(0, path.find_last_of('/')));
        if (!folder) return fail("cannot create its folder: " + folder.message());
    }
    // The toolkit replaces only a regular file of the user's own, never
    // follows a link and creates the file for its owner only.
    auto file = ZORExtAudioFile::initForWriting(path, kAudioFileCAFType, clientFormat, mStreamFormat);
    int32_t status = file ? file->open() : kAudioFileUnspecifiedError;
    if (status != 0) {
        Log::info("failed to create capture scratch file: %d", status);
        return fail(file ? file->lastErrorMessage() : "the file could not be made");
    }
    status = file->setClientStreamFormat(clientFormat);
    if (status != 0) {
        Log::info("failed to set format on capture scratch file: %d", status);
        std::string why = file->lastErrorMessage();
        file->close();
        return fail(why);
    }
    file->write(nullptr, 0);
    mAudioFile = file;
    return true;
}

bool MySystemCaptureRecorder::writeBlock(AudioBufferList* list, uint32_t frames) {
    std::lock_guard guard(mFileLock);
    if (!mAudioFile) return true;  // closed by stop; the loop ends at its next check
    int32_t status = mAudioFile->write(list, frames);
    if (status != 0) {
        Log::info("ExtAudioFileWrite write error %d\n", status);
        Log::warning("%s; trying again (is the disk full?)", mAudioFile->lastErrorMessage().c_str());
        return false;
    }
    mNumRecordedFrames += frames;
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
    mLostFrames += resume - readFrame;
    readFrame = resume;
}

bool MySystemCaptureRecorder::sleepWhileRunning(double seconds) {
    std::unique_lock lock(mWakeLock);
    return !mWake.wait_for(lock, std::chrono::duration<double>(seconds),
                           [this] { return mRecorderState == kRecorderStateStopped || mCaptureFailed; });
}

void MySystemCaptureRecorder::closeScratchFile(bool drained) {
    std::lock_guard guard(mFileLock);
    std::string closeError;
    if (mAudioFile && mAudioFile->close() != 0) closeError = mAudioFile->lastErrorMessage();
    mAudioFile.reset();
    mProblem = describeProblems(drained, closeError);
    mFinishedSuccessfully = mProblem.empty();
    if (!mFinishedSuccessfully) Log::warning("The recording is incomplete: %s\n", mProblem.c_str());
}

// Every way the file can fall short of the audio from record to stop, in words.
std::string MySystemCaptureRecorder::describeProblems(bool drained, const std::string& closeError) const {
    auto seconds = [](int64_t frames) { return static_cast<double>(frames) / platform::kCaptureSampleRate; };
    std::vector<std::string> problems;
    char text[200];
    if (!mFileProblem.empty()) problems.push_back(mFileProblem);
    if (!closeError.empty()) problems.push_back("the file could not be completed: " + closeError);
    if (mCaptureFailed) problems.push_back("the sound server went away during the recording; the file holds what came before");
    if (mStoppedWhileAway)
        problems.push_back("the sound server went away before the stop and was not back by then; the file holds what came before");
    const std::optional<int64_t> end = mTimeline.finalFrame();
    if (!drained && !mCaptureFailed && end) {
        snprintf(text, sizeof text, "the sound server did not deliver the last %.2f s before the stop",
                 seconds(*end - mWrittenUntil.load()));
        problems.push_back(text);
    }
    if (mLostFrames > 0) {
        snprintf(text, sizeof text, "%.2f s of audio were lost because the capture fell behind", seconds(mLostFrames));
        problems.push_back(text);
    }
    if (mNumRecordedFrames == 0 && mFileProblem.empty()) problems.push_back("no audio was recorded");
    std::string joined;
    for (const std::string& problem : problems) joined += (joined.empty() ? "" : "; ") + problem;
    return joined;
}
