#include "segmentation/AudioFileImporter.h"

#include "frameworks/ZORAudioBufferList.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"
#include "frameworks/ZORExtAudioFile.h"
#include "platform/AudioConstants.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/RegularFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using platform::Log;
using platform::Status;

namespace {

constexpr uint32_t kBlockBytes = 65536;
// How far a source may fall short of its stated length and still count as whole.
constexpr double kLengthTolerance = 0.01;
constexpr double kLengthToleranceSeconds = 0.5;


std::string secondsText(int64_t frames, double rate) {
    char text[64];
    snprintf(text, sizeof text, "%.1f s", rate > 0 ? static_cast<double>(frames) / rate : 0.0);
    return text;
}

// A name beside the scratch recording that is ours alone: mkstemp creates it
// with O_EXCL, which refuses whatever lies at the name, a planted link included.
platform::Result<std::string> reserveTemporaryFile(const std::string& scratch) {
    std::string name = scratch + ".import-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return Status::failure("cannot create a temporary file beside " + scratch + ": " + strerror(errno));
    close(fd);
    return name;
}

// The scratch recording may replace only what a capture would: nothing, or a
// regular file of the user's own.
Status checkScratchReplaceable(const std::string& scratch) {
    struct stat info {};
    if (lstat(scratch.c_str(), &info) != 0 && errno == ENOENT) return Status::success();
    return platform::checkReplaceable(scratch);
}

AudioStreamBasicDescription standardFormat() {
    return *ZORAudioStreamBasicDescription::standardFormat(0)->audioStreamBasicDescription();
}

// The source, opened to deliver the standard format.
Status openSource(ZORExtAudioFile& reader) {
    struct stat info {};
    if (stat(reader.path().c_str(), &info) != 0)
        return Status::failure(errno == ENOENT ? "there is no such file" : strerror(errno));
    if (!S_ISREG(info.st_mode)) return Status::failure("it is not a file");
    if (reader.open() != 0 || reader.setClientStreamFormat(standardFormat()) != 0)
        return Status::failure(reader.lastErrorMessage());
    return Status::success();
}

// Reads the opened source in blocks of the standard format into the opened
// writer, and scans every block written for silences. The source's stated
// length ends nothing: the copy runs until a read delivers no frames.
class BlockCopy {
public:
    BlockCopy(ZORExtAudioFile& reader, ZORExtAudioFile& writer, SilenceDetector& detector)
        : mReader(reader), mWriter(writer), mDetector(detector), mFormat(standardFormat()) {}

    Status run() {
        ZORAudioBufferList::Owned list(ZORAudioBufferList::allocateBuffers(1, mFormat.mChannelsPerFrame, kBlockBytes));
        if (!list) return Status::failure("there is not enough memory for the conversion");
        for (;;) {
            list->mBuffers[0].mDataByteSize = kBlockBytes;
            uint32_t frames = kBlockBytes / mFormat.mBytesPerFrame;
            if (mReader.read(list.get(), frames) != 0) return failedAfter(mReader.lastErrorMessage());
            if (frames == 0) return Status::success();
            if (mWriter.write(list.get(), frames) != 0) return failedAfter(mWriter.lastErrorMessage());
            mFrames += frames;
            mDetector.detectSilence(static_cast<const float*>(list->mBuffers[0].mData), frames);
        }
    }

    // A source that ends well before the length its header states has lost
    // its end (a broken download, a damaged copy) and is refused. The
    // tolerance covers encoder delay and padding, which some headers count.
    Status checkComplete(int64_t statedSourceFrames) const {
        if (statedSourceFrames <= 0) return Status::success();
        const double sourceRate = mReader.sampleRate();
        const double stated = static_cast<double>(statedSourceFrames) * mFormat.mSampleRate / sourceRate;
        const double tolerance = std::max(stated * kLengthTolerance, mFormat.mSampleRate * kLengthToleranceSeconds);
        if (static_cast<double>(mFrames) >= stated - tolerance) return Status::success();
        return Status::failure("it ends after " + secondsText(mFrames, mFormat.mSampleRate) + " although it says it lasts " +
                               secondsText(statedSourceFrames, sourceRate) + ": the file is truncated or damaged");
    }

    int64_t frames() const { return mFrames; }

private:
    Status failedAfter(const std::string& why) const {
        return Status::failure(why + " (after " + secondsText(mFrames, mFormat.mSampleRate) + " of audio)");
    }

    ZORExtAudioFile& mReader;
    ZORExtAudioFile& mWriter;
    SilenceDetector& mDetector;
    const AudioStreamBasicDescription mFormat;
    int64_t mFrames = 0;
};

}  // namespace

AudioFileImporter::AudioFileImporter() {
    resetDetector();
    setScratchAudioFilePath(platform::scratchRecordingPath());
}

void AudioFileImporter::resetDetector() {
    const float threshold = mSilenceDetector ? mSilenceDetector->silenceThreshold() : 0.0f;
    const float length = mSilenceDetector ? mSilenceDetector->lengthOfSilence() : 0.0f;
    mSilenceDetector = std::make_unique<SilenceDetector>(threshold, length);
}

void AudioFileImporter::setScratchAudioFilePath(const std::string& path) {
    mAudioFilePath = path;
    const size_t slash = path.find_last_of('/');
    mParentDirPath = slash == std::string::npos ? "." : path.substr(0, std::max<size_t>(slash, 1));
}

float AudioFileImporter::silenceThreshold() const {
    return mSilenceDetector->silenceThreshold();
}

void AudioFileImporter::setSilenceThreshold(float threshold) {
    mSilenceDetector->setSilenceThreshold(threshold);
}

float AudioFileImporter::lengthOfSilence() const {
    return mSilenceDetector->lengthOfSilence();
}

void AudioFileImporter::setLengthOfSilence(float seconds) {
    mSilenceDetector->setLengthOfSilence(seconds);
}

std::shared_ptr<AudioSegmentTree> AudioFileImporter::audioSegmentTree() const {
    return mSilenceDetector->audioSegmentTree();
}

void AudioFileImporter::mergeSilentTracks() {
    mSilenceDetector->mergeSilentTracks();
}

// A failed import leaves no partial model behind: the scratch recording it
// would have described was never replaced.
platform::Status AudioFileImporter::importFileWithPath(const std::string& source) {
    resetDetector();
    const Status converted = convert(source);
    if (converted) {
        Log::info("imported %s into %s: %s of audio", source.c_str(), mAudioFilePath.c_str(),
                  secondsText(mNumRecordedFrames, platform::kCaptureSampleRate).c_str());
        return converted;
    }
    resetDetector();
    mNumRecordedFrames = 0;
    const std::string message =
        "cannot import " + source + ": " + converted.message() + "; the scratch recording " + mAudioFilePath + " is unchanged";
    Log::warning("%s", message.c_str());
    return Status::failure(message);
}

Status AudioFileImporter::convert(const std::string& source) {
    auto reader = ZORExtAudioFile::initForReading(source);
    if (Status opened = openSource(*reader); !opened) return opened;
    if (Status folder = platform::createDirectories(mParentDirPath); !folder)
        return Status::failure("cannot make the scratch folder: " + folder.message());
    if (Status replaceable = checkScratchReplaceable(mAudioFilePath); !replaceable) return replaceable;
    platform::Result<std::string> temporary = reserveTemporaryFile(mAudioFilePath);
    if (!temporary) return temporary.status();
    Status written = writeScratch(*reader, *temporary);
    if (written && rename(temporary->c_str(), mAudioFilePath.c_str()) != 0)
        written = Status::failure("cannot replace " + mAudioFilePath + ": " + strerror(errno));
    if (!written) unlink(temporary->c_str());
    return written;
}

Status AudioFileImporter::writeScratch(ZORExtAudioFile& reader, const std::string& temporary) {
    const int64_t statedLength = reader.lengthInFrames();
    auto writer = ZORExtAudioFile::initForWriting(temporary, kAudioFileCAFType, standardFormat(),
                                                  ZORAudioStreamBasicDescription::scratchRecordingFormat());
    if (writer->open() != 0) return Status::failure("cannot write the scratch recording: " + writer->lastErrorMessage());
    BlockCopy copy(reader, *writer, *mSilenceDetector);
    Status copied = copy.run();
    if (copied) copied = copy.checkComplete(statedLength);
    mNumRecordedFrames = copy.frames();
    const bool closed = writer->close() == 0;
    reader.close();
    if (!copied) return copied;
    if (!closed) return Status::failure("cannot complete the scratch recording: " + writer->lastErrorMessage());
    if (mNumRecordedFrames == 0) return Status::failure("it holds no audio frames");
    // A cut-off file whose header no longer states a length decodes as a few
    // milliseconds; it is not worth the last capture it would replace.
    if (mNumRecordedFrames < platform::kShortestRecordingFrames)
        return Status::failure("it holds only " + secondsText(mNumRecordedFrames, standardFormat().mSampleRate) +
                               " of audio, too little for a recording: the file may be cut short");
    return Status::success();
}
