#include "frameworks/ZORExtAudioFile.h"

#include <algorithm>
#include <mutex>

#include "frameworks/AudioFileBackend.h"
#include "frameworks/AudioFileBackendLoader.h"
#include "frameworks/AudioStatusText.h"
#include "frameworks/CAFLinearPCMEncoder.h"
#include "platform/Log.h"

ZORExtAudioFile::ZORExtAudioFile(Mode mode, std::string path) : mMode(mode), mPath(std::move(path)) {}

ZORExtAudioFile::~ZORExtAudioFile() {
    close();
}

std::shared_ptr<ZORExtAudioFile> ZORExtAudioFile::initForReading(const std::string& path) {
    return std::shared_ptr<ZORExtAudioFile>(new ZORExtAudioFile(Mode::Reading, path));
}

std::shared_ptr<ZORExtAudioFile> ZORExtAudioFile::initForWriting(const std::string& path, uint32_t fileType,
                                                                  const AudioStreamBasicDescription& clientFormat,
                                                                  const AudioStreamBasicDescription& fileFormat) {
    std::shared_ptr<ZORExtAudioFile> file(new ZORExtAudioFile(Mode::Writing, path));
    file->mFileType = fileType;
    file->mRequestedClientFormat = clientFormat;
    file->mRequestedFileFormat = fileFormat;
    return file;
}

int32_t ZORExtAudioFile::open() {
    std::lock_guard guard(mLock);
    if (mDecoder || mEncoder) return 0;
    if (mMode == Mode::Writing && mWritten)
        return report(kAudioFileNotOpenError, "cannot open " + mPath + " again: the file has been written and closed");
    return mMode == Mode::Reading ? openForReading() : openForWriting();
}

int32_t ZORExtAudioFile::openForReading() {
    std::string error;
    AudioFileBackend* backend = AudioFileBackendLoader::backend(error);
    if (!backend) return report(kAudioFileUnspecifiedError, "cannot open " + mPath + ": " + error);
    auto decoder = backend->makeDecoder();
    int32_t status = decoder->open(mPath, error);
    if (status == 0) mDecoder = std::move(decoder);
    return report(status, error);
}

// Linear PCM in CAF needs no codec: the scratch recording is written without
// mapping FFmpeg and the hundred-odd libraries behind it.
int32_t ZORExtAudioFile::openForWriting() {
    std::string error;
    std::unique_ptr<AudioFileEncoder> encoder;
    if (CAFLinearPCMEncoder::handles(mFileType, mRequestedClientFormat, mRequestedFileFormat))
        encoder = std::make_unique<CAFLinearPCMEncoder>();
    else if (AudioFileBackend* backend = AudioFileBackendLoader::backend(error))
        encoder = backend->makeEncoder();
    else
        return report(kAudioFileUnspecifiedError, "cannot open " + mPath + ": " + error);
    int32_t status = encoder->open(mPath, mFileType, mRequestedClientFormat, mRequestedFileFormat, error);
    if (status == 0) mEncoder = std::move(encoder);
    mWritten = status == 0;
    return report(status, error);
}

int32_t ZORExtAudioFile::setClientStreamFormat(const AudioStreamBasicDescription& format) {
    std::lock_guard guard(mLock);
    std::string error;
    if (mDecoder) return report(mDecoder->setClientFormat(format, error), error);
    if (mEncoder) return report(mEncoder->setClientFormat(format, error), error);
    return report(kAudioFileNotOpenError, "cannot set the client format of " + mPath + ": the file is not open");
}

AudioStreamBasicDescription ZORExtAudioFile::clientStreamFormat() const {
    std::lock_guard guard(mLock);
    if (mDecoder) return mDecoder->clientFormat();
    if (mEncoder) return mEncoder->clientFormat();
    return mRequestedClientFormat;
}

AudioStreamBasicDescription ZORExtAudioFile::fileStreamFormat() const {
    std::lock_guard guard(mLock);
    if (mDecoder) return mDecoder->fileFormat();
    if (mEncoder) return mEncoder->fileFormat();
    return mRequestedFileFormat;
}

double ZORExtAudioFile::sampleRate() const {
    return fileStreamFormat().mSampleRate;
}

int64_t ZORExtAudioFile::lengthInFrames() {
    std::lock_guard guard(mLock);
    return mDecoder ? mDecoder->lengthInFrames() : 0;
}

uint32_t ZORExtAudioFile::channelsPerFrame() const {
    return clientStreamFormat().mChannelsPerFrame;
}

int32_t ZORExtAudioFile::seek(int64_t frame) {
    std::lock_guard guard(mLock);
    if (!mDecoder) return report(kAudioFileNotOpenError, "cannot seek in " + mPath + ": not open for reading");
    std::string error;
    return report(mDecoder->seek(frame, error), error);
}

int32_t ZORExtAudioFile::read(AudioBufferList* list, uint32_t& numberFrames) {
    std::lock_guard guard(mLock);
    if (!mDecoder) {
        numberFrames = 0;
        return report(kAudioFileNotOpenError, "cannot read " + mPath + ": not open for reading");
    }
    if (!list || list->mNumberBuffers < 1 || !list->mBuffers[0].mData) {
        numberFrames = 0;
        return report(kAudio_ParamError, "cannot read " + mPath + ": no buffer to read into");
    }
    AudioBuffer& buffer = list->mBuffers[0];
    const uint32_t bytesPerFrame = mDecoder->clientFormat().mBytesPerFrame;
    numberFrames = std::min(numberFrames, buffer.mDataByteSize / bytesPerFrame);
    std::string error;
    int32_t status = mDecoder->read(buffer.mData, numberFrames, error);
    buffer.mDataByteSize = numberFrames * bytesPerFrame;
    return report(status, error);
}

int32_t ZORExtAudioFile::write(const AudioBufferList* list, uint32_t numberFrames) {
    return append(list, numberFrames, false);
}

int32_t ZORExtAudioFile::writeSynch(const AudioBufferList* list, uint32_t numberFrames) {
    return append(list, numberFrames, true);
}

int32_t ZORExtAudioFile::append(const AudioBufferList* list, uint32_t numberFrames, bool synchronous) {
    std::lock_guard guard(mLock);
    if (!mEncoder) return report(kAudioFileNotOpenError, "cannot write " + mPath + ": not open for writing");
    if (numberFrames == 0) return 0;
    const uint64_t bytes = uint64_t(numberFrames) * mEncoder->clientFormat().mBytesPerFrame;
    if (!list || list->mNumberBuffers < 1 || !list->mBuffers[0].mData || list->mBuffers[0].mDataByteSize < bytes)
        return report(kAudio_ParamError, "cannot write " + mPath + ": the buffer holds fewer frames than asked");
    std::string error;
    int32_t status = mEncoder->write(list->mBuffers[0].mData, numberFrames, error);
    if (status == 0 && synchronous) status = mEncoder->flushToDisk(error);
    return report(status, error);
}

int32_t ZORExtAudioFile::close() {
    std::lock_guard guard(mLock);
    mDecoder.reset();
    if (!mEncoder) return 0;
    std::string error;
    int32_t status = mEncoder->finish(error);
    mEncoder.reset();
    return report(status, error);
}

std::string ZORExtAudioFile::lastErrorMessage() const {
    std::lock_guard guard(mLock);
    return mLastError;
}

int32_t ZORExtAudioFile::report(int32_t status, const std::string& message) {
    if (status == 0) return 0;
    mLastError = message.empty() ? "audio file " + mPath + ": " + audioStatusText(status) : message;
    platform::Log::debug("ZORExtAudioFile: %s (%d)", mLastError.c_str(), status);
    return status;
}
