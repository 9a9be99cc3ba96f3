#include "frameworks/CAFLinearPCMEncoder.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "frameworks/AudioFileIO.h"
#include "frameworks/ZORAudioStreamBasicDescription.h"

namespace {

// Room for at least 512 frames in a chunk; more channels go to FFmpeg.
constexpr uint32_t kMaxChannels = 64;
// The CAF description's flag for little-endian samples (its float flag is never ours).
constexpr uint32_t kCAFLinearPCMFormatFlagIsLittleEndian = 2;
// The 'data' chunk's size while the writer runs: unknown, read to the end of the file.
constexpr uint64_t kUnknownChunkSize = ~uint64_t(0);
// The file header (8 bytes), the 'desc' chunk (12 + 32), the 'data' chunk's header (12) and edit count (4).
constexpr size_t kDataSizeOffset = 8 + 12 + 32 + 4;
constexpr size_t kHeaderSize = kDataSizeOffset + 8 + 4;

bool isSixteenBitIntegerFile(const AudioStreamBasicDescription& format) {
    const uint32_t flags = format.mFormatFlags;
    return format.mFormatID == kAudioFormatLinearPCM && format.mBitsPerChannel == 16 &&
           (flags & kAudioFormatFlagIsSignedInteger) &&
           !(flags & (kAudioFormatFlagIsFloat | kAudioFormatFlagIsNonInterleaved));
}

// Interleaved 32-bit float or 16-bit signed integer samples in native byte order.
bool isClientSampleType(const AudioStreamBasicDescription& format) {
    const uint32_t flags = format.mFormatFlags;
    if (format.mFormatID != kAudioFormatLinearPCM || format.mSampleRate <= 0 || format.mChannelsPerFrame == 0 ||
        (flags & (kAudioFormatFlagIsNonInterleaved | kAudioFormatFlagIsBigEndian)) ||
        format.mBytesPerFrame != format.mBitsPerChannel / 8 * format.mChannelsPerFrame)
        return false;
    if (flags & kAudioFormatFlagIsFloat) return format.mBitsPerChannel == 32;
    return (flags & kAudioFormatFlagIsSignedInteger) && format.mBitsPerChannel == 16;
}

// A file format may leave its rate and channel count to the client's.
bool sameShape(const AudioStreamBasicDescription& client, const AudioStreamBasicDescription& file) {
    return (file.mSampleRate <= 0 || file.mSampleRate == client.mSampleRate) &&
           (file.mChannelsPerFrame == 0 || file.mChannelsPerFrame == client.mChannelsPerFrame);
}

void putBigEndian(uint8_t*& out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) *out++ = uint8_t(value >> shift);
}

std::array<uint8_t, kHeaderSize> cafHeader(const AudioStreamBasicDescription& format) {
    std::array<uint8_t, kHeaderSize> header{};
    uint8_t* out = header.data();
    putBigEndian(out, fourCharCode("caff"), 4);
    putBigEndian(out, 1, 2);  // file version
    putBigEndian(out, 0, 2);  // file flags
    putBigEndian(out, fourCharCode("desc"), 4);
    putBigEndian(out, 32, 8);
    putBigEndian(out, std::bit_cast<uint64_t>(format.mSampleRate), 8);
    putBigEndian(out, kAudioFormatLinearPCM, 4);
    putBigEndian(out, format.mFormatFlags & kAudioFormatFlagIsBigEndian ? 0 : kCAFLinearPCMFormatFlagIsLittleEndian, 4);
    putBigEndian(out, format.mBytesPerPacket, 4);
    putBigEndian(out, format.mFramesPerPacket, 4);
    putBigEndian(out, format.mChannelsPerFrame, 4);
    putBigEndian(out, format.mBitsPerChannel, 4);
    putBigEndian(out, fourCharCode("data"), 4);
    putBigEndian(out, kUnknownChunkSize, 8);
    putBigEndian(out, 0, 4);  // edit count
    return header;
}

// FFmpeg's float to 16-bit conversion, lrintf(x * 32768) clipped, wherever
// that is defined. Beyond ±65536 and for NaN FFmpeg's result depends on the
// sample's place in its buffer; here large values saturate and NaN is silence.
int16_t sampleFromFloat(float value) {
    if (std::isnan(value)) return 0;
    return int16_t(std::lrintf(std::clamp(value * 32768.0f, -32768.0f, 32767.0f)));
}

}  // namespace

bool CAFLinearPCMEncoder::handles(uint32_t fileType, const AudioStreamBasicDescription& clientFormat,
                                  const AudioStreamBasicDescription& fileFormat) {
    return fileType == kAudioFileCAFType && isSixteenBitIntegerFile(fileFormat) &&
           isClientSampleType(clientFormat) && clientFormat.mChannelsPerFrame <= kMaxChannels &&
           sameShape(clientFormat, fileFormat);
}

CAFLinearPCMEncoder::~CAFLinearPCMEncoder() {
    if (mFd >= 0) ::close(mFd);
}

int32_t CAFLinearPCMEncoder::open(const std::string& path, uint32_t fileType,
                                  const AudioStreamBasicDescription& clientFormat,
                                  const AudioStreamBasicDescription& fileFormat, std::string& error) {
    mPath = path;
    if (!handles(fileType, clientFormat, fileFormat)) {
        error = "cannot write " + path +
                ": only 16-bit integer CAF data from interleaved float or 16-bit frames of the same rate and "
                "channel count";
        return kAudioFileUnsupportedDataFormatError;
    }
    mClientFormat = clientFormat;
    mFileFormat = ZORAudioStreamBasicDescription::linearPCM(
        clientFormat.mSampleRate, clientFormat.mChannelsPerFrame, 16,
        fileFormat.mFormatFlags & (kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian));
    int32_t status = 0;
    mFd = AudioFileIO::createReplacing(path, status, error);
    if (mFd < 0) return status;
    const std::array<uint8_t, kHeaderSize> header = cafHeader(mFileFormat);
    size_t written = 0;
    if (int errorNumber = AudioFileIO::writeAll(mFd, header.data(), header.size(), written)) {
        ::close(mFd);
        mFd = -1;
        unlink(path.c_str());
        error = AudioFileIO::describe("cannot write the header of", path, errorNumber);
        return AudioFileIO::statusFromErrno(errorNumber);
    }
    return 0;
}

int32_t CAFLinearPCMEncoder::setClientFormat(const AudioStreamBasicDescription& clientFormat, std::string& error) {
    if (!isClientSampleType(clientFormat)) {
        error = "unsupported client format for " + mPath + ": use interleaved 32-bit float or 16-bit integer";
        return kAudioFileUnsupportedDataFormatError;
    }
    if (mFd < 0) return kAudioFileNotOpenError;
    if (!sameShape(clientFormat, mFileFormat)) {
        char own[64];
        snprintf(own, sizeof own, "%g Hz, %u channels", mFileFormat.mSampleRate, mFileFormat.mChannelsPerFrame);
        error = "cannot write " + mPath + " from frames of another rate or channel count than its own (" + own + ")";
        return kAudioFileUnsupportedDataFormatError;
    }
    mClientFormat = clientFormat;
    return 0;
}

int32_t CAFLinearPCMEncoder::write(const void* frames, uint32_t count, std::string& error) {
    if (mFailure) return refusal(error);
    if (mFd < 0) return kAudioFileNotOpenError;
    const auto* input = static_cast<const uint8_t*>(frames);
    const uint32_t chunkFrames = uint32_t(mChunk.size() / mFileFormat.mBytesPerFrame);
    for (uint32_t done = 0; done < count;) {
        const uint32_t frameCount = std::min(count - done, chunkFrames);
        const size_t bytes = convert(input + size_t(done) * mClientFormat.mBytesPerFrame, frameCount);
        if (int32_t status = writeChunk(bytes, error)) return status;
        done += frameCount;
    }
    return 0;
}

size_t CAFLinearPCMEncoder::convert(const uint8_t* frames, uint32_t count) {
    const size_t samples = size_t(count) * mFileFormat.mChannelsPerFrame;
    const bool fromFloat = mClientFormat.mFormatFlags & kAudioFormatFlagIsFloat;
    const bool bigEndian = mFileFormat.mFormatFlags & kAudioFormatFlagIsBigEndian;
    uint8_t* out = mChunk.data();
    for (size_t i = 0; i < samples; ++i, out += 2) {
        int16_t sample;
        if (fromFloat) {
            float value;
            std::memcpy(&value, frames + 4 * i, 4);
            sample = sampleFromFloat(value);
        } else {
            std::memcpy(&sample, frames + 2 * i, 2);
        }
        const auto bits = uint16_t(sample);
        out[bigEndian ? 0 : 1] = uint8_t(bits >> 8);
        out[bigEndian ? 1 : 0] = uint8_t(bits);
    }
    return samples * 2;
}

int32_t CAFLinearPCMEncoder::writeChunk(size_t bytes, std::string& error) {
    size_t written = 0;
    const int errorNumber = AudioFileIO::writeAll(mFd, mChunk.data(), bytes, written);
    const size_t whole = written - written % mFileFormat.mBytesPerFrame;
    mDataBytes += whole;
    if (errorNumber == 0) return 0;
    // The start of a frame that was cut short would be read as noise, or refused.
    if (whole != written && ftruncate(mFd, off_t(kHeaderSize + mDataBytes)) != 0)
        return failure(errorNumber, "cannot write frames to", error,
                       std::string("; part of a frame stays at its end: ") + strerror(errno));
    return failure(errorNumber, "cannot write frames to", error);
}

int32_t CAFLinearPCMEncoder::flushToDisk(std::string& error) {
    if (mFailure) return refusal(error);
    return mFd < 0 ? kAudioFileNotOpenError : 0;
}

int32_t CAFLinearPCMEncoder::finish(std::string& error) {
    if (mFd < 0) return mFailure ? mFailure : kAudioFileNotOpenError;
    // Even after a failure: the frames that reached the file are then all a reader sees.
    std::array<uint8_t, 8> size{};
    uint8_t* out = size.data();
    putBigEndian(out, mDataBytes + 4, 8);  // the chunk's size counts the edit count too
    size_t written = 0;
    int errorNumber = lseek(mFd, off_t(kDataSizeOffset), SEEK_SET) < 0
                          ? errno
                          : AudioFileIO::writeAll(mFd, size.data(), size.size(), written);
    if (::close(mFd) != 0 && errorNumber == 0) errorNumber = errno;
    mFd = -1;
    if (mFailure) {
        error = "cannot complete " + mPath + " after an earlier failure: " + mFailureCause;
        return mFailure;
    }
    return errorNumber ? failure(errorNumber, "cannot complete", error) : 0;
}

int32_t CAFLinearPCMEncoder::failure(int errorNumber, const std::string& what, std::string& error,
                                     const std::string& aftermath) {
    mFailure = AudioFileIO::statusFromErrno(errorNumber);
    mFailureCause = strerror(errorNumber) + aftermath;
    error = AudioFileIO::describe(what, mPath, errorNumber) + aftermath;
    return mFailure;
}

int32_t CAFLinearPCMEncoder::refusal(std::string& error) const {
    error = "cannot write " + mPath + " after an earlier failure: " + mFailureCause;
    return mFailure;
}
